// MqttRetained is what the bridge has told the broker to keep: the latest
// retained message of every state topic (the unit's availability, each
// device, each scene) and, with discovery on, which config each device and
// scene has. A state is published when it changes (not again when a reply
// repeats it); everything is published again on each new connection and
// when Home Assistant starts (RepublishAll). What cannot be published
// while the broker is away is kept as the latest state only, so memory
// stays the size of the home, never the length of an outage.
//
// Memory: per device its JSON object as text and two small numbers; the
// discovery configs are made again from that text when they are published
// again, not kept.
//
// Threads: every operation from any thread (the bridge's listener thread,
//   the connection thread on a new connection or Home Assistant's start).
// Lock: m_Mutex guards everything here and is held while publishing, so
//   that a republish never puts an older state after a newer one. A
//   publish only queues a packet (mqtt_client.h), so it is held briefly. A
//   leaf lock.
#ifndef VERU_CONSOLE_MQTT_MQTT_RETAINED_H
#define VERU_CONSOLE_MQTT_MQTT_RETAINED_H

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "console/mqtt/mqtt_topics.h"
#include "engine/model.h"

class MqttRetained {
 public:
  // Publishes one message (topic, payload, QoS, retained); false when it
  // could not (the broker away).
  using PublishFunction = std::function<bool(
      const std::string&, const std::string&, int, bool)>;

  MqttRetained(const MqttTopics& _Topics, PublishFunction fPublish);

  // The unit reached (polls succeed) or not.
  void SetUnit(bool bOnline);
  // The rooms' names, for the discovery configs' areas.
  void SetRooms(std::map<int, std::string> mapRoomName);
  void SetDevice(const Veru::Device& _Device);
  void SetScene(const Veru::Scene& _Scene);
  // A full reply: every device and scene not in it is gone; its retained
  // state and config are cleared (an empty retained payload).
  void KeepOnly(const std::set<int>& setDevices, const std::set<int>& setScenes);
  // Publishes bridge/state online, bridge/unit, every state and config.
  void RepublishAll();
  // The console follows another unit under the same base: _Topics names
  // it. The discovery configs made for the old unit are cleared (their
  // ids hold its serial number) and are made again, with the new one's,
  // as its devices and scenes are reported; the states stay until the new
  // unit's full reply tells which of them it has (KeepOnly).
  void SwitchUnit(const MqttTopics& _Topics);

  // What is kept (for tests and the memory benchmark).
  size_t DeviceCount();
  std::string DevicePayload(int iID);
  // Bytes held for the devices and scenes: texts and entries.
  size_t HeldBytes();

 private:
  struct Entry {
    std::string sPayload;
    // A device's on/off state published (mqtt_on_off.h); empty: none.
    std::string sOnOff;
    // With discovery: the component of the config published ("" none)...
    std::string sComponent;
    // ...and a digest of what it was made from (name, room, component).
    size_t iConfigDigest = 0;
  };

  // Publishes the on/off state when it changed (bAll: in any case).
  void PublishOnOff(const Veru::Device& _Device, Entry* pEntry, bool bAll);
  // Publishes the state and, when it changed, the config.
  void PublishDevice(const Veru::Device& _Device, Entry* pEntry, bool bAll);
  void PublishScene(const Veru::Scene& _Scene, Entry* pEntry, bool bAll);
  std::string RoomName(int iRoom) const;
  void Clear(const std::string& sTopic);

  MqttTopics m_Topics;
  PublishFunction m_fPublish;
  std::mutex m_Mutex;
  bool m_bUnitOnline = false;
  std::map<int, std::string> m_mapRoomName;
  std::map<int, Entry> m_mapDevice;
  std::map<int, Entry> m_mapScene;
};

#endif  // VERU_CONSOLE_MQTT_MQTT_RETAINED_H
