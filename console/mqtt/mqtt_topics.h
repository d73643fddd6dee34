// MqttTopics names every topic the bridge publishes to or listens on, from
// the base BASE (--mqtt-topic, or "veru/SERIAL") and the discovery prefix
// (--mqtt-discovery; empty when discovery is off):
//
//   BASE/bridge/state        {"state":"online"|"offline"}, retained; the will
//   BASE/bridge/unit         {"state":"online"|"offline"}, retained
//   BASE/device/ID           the device's JSON object, retained
//   BASE/device/ID/state     its on/off state and level, retained
//                            (mqtt_on_off.h)
//   BASE/scene/ID            the scene's JSON object, retained
//   BASE/result              a result event per command from the broker
//   BASE/device/ID/set       in: a device command ("on", "dim 30", ...)
//   BASE/scene/ID/set        in: any payload runs the scene
//   BASE/command             in: a whole console command line
//   PREFIX/COMPONENT/OBJECT/config   discovery, retained
//   PREFIX/status            in: "online" when Home Assistant starts
//
// Immutable once made: any thread may read one.
#ifndef VERU_CONSOLE_MQTT_MQTT_TOPICS_H
#define VERU_CONSOLE_MQTT_MQTT_TOPICS_H

#include <string>
#include <vector>

class MqttTopics {
 public:
  // What a topic that came in asks for.
  enum class Incoming {
    kDeviceSet,        // BASE/device/ID/set
    kSceneSet,         // BASE/scene/ID/set
    kCommand,          // BASE/command
    kDiscoveryStatus,  // PREFIX/status
    kOther,            // anything else (not obeyed)
  };

  MqttTopics(const std::string& sBase, const std::string& sDiscoveryPrefix,
             int iSerialNumber);

  const std::string& Base() const { return m_sBase; }
  bool Discovery() const { return !m_sPrefix.empty(); }
  int SerialNumber() const { return m_iSerialNumber; }

  std::string BridgeState() const { return m_sBase + "/bridge/state"; }
  std::string BridgeUnit() const { return m_sBase + "/bridge/unit"; }
  std::string Device(int iID) const;
  std::string Scene(int iID) const;
  std::string DeviceState(int iID) const { return Device(iID) + "/state"; }
  std::string DeviceSet(int iID) const { return Device(iID) + "/set"; }
  std::string SceneSet(int iID) const { return Scene(iID) + "/set"; }
  std::string Result() const { return m_sBase + "/result"; }
  std::string Command() const { return m_sBase + "/command"; }
  // The topic filters the bridge subscribes to.
  std::vector<std::string> Subscriptions() const;

  // "veru_SERIAL_ID" for a device, "veru_SERIAL_scene_ID" for a scene: the
  // object id in the discovery topic, and the entity's unique id.
  std::string ObjectId(int iID, bool bScene) const;
  // "PREFIX/COMPONENT/OBJECT/config".
  std::string DiscoveryConfig(const std::string& sComponent, int iID,
                              bool bScene) const;

  // Reads an incoming topic; for the two "set" topics *pID is the text
  // between the kind and "/set" (not checked: see ReadIdNumber).
  Incoming Read(const std::string& sTopic, std::string* pID) const;

 private:
  std::string m_sBase;
  std::string m_sPrefix;
  int m_iSerialNumber;
};

// A device or scene number as a topic holds it: 1 to 2147483647 in
// decimal digits, no sign, no leading zero. False for anything else.
bool ReadIdNumber(const std::string& sText, int* pID);

// Why --mqtt-topic or --mqtt-discovery's text cannot be a topic base (empty,
// a wildcard "+" or "#", a leading or trailing "/", a control byte, not
// UTF-8); empty when it can.
std::string TopicBaseProblem(const std::string& sBase);

#endif  // VERU_CONSOLE_MQTT_MQTT_TOPICS_H
