// MqttBridge bridges the unit to an MQTT broker (--mqtt URL): a listener of
// the report fan-out that keeps the broker's retained states as the
// reports tell them (MqttRetained), a connection of its own to the broker
// (MqttClient), and a source of commands through the command table
// (MqttCommands). Topics and payloads: mqtt_topics.h; discovery:
// mqtt_discovery.h.
//
// The bridge connects once it knows its base: --mqtt-topic, or
// "veru/SERIAL" with the unit's serial number (at start when a unit is
// saved, else from the first full reply).
//
// When the console turns to another unit (connect, the wizard), the bridge
// follows the reports' serial number. With "veru/SERIAL" it leaves the old
// base as a console that ends leaves it (bridge/unit and bridge/state
// offline, the last states kept, so its entities show unavailable) and
// connects again under the new base, whose bridge/state the Last Will now
// names. With --mqtt-topic the base and the connection stay; the old
// unit's discovery configs are cleared and made again with the new serial
// number, and the new unit's full reply clears the states of the devices
// and scenes it does not have. The availability of the unit
// (BASE/bridge/unit) is online once a poll answers, offline after the
// console gives the connection up, online again when it is restored. At
// the end (OnStop) it publishes {"state":"offline"} on BASE/bridge/state
// and disconnects cleanly; killed, the broker publishes the same as its
// Last Will.
//
// Threads: OnReport and OnStop on the fan-out's thread for this listener;
//   the connection and the commands on threads of their own (see their
//   headers). Lock: m_Mutex guards the parts made when the base is known.
// Ownership: the fan-out owns the bridge; the bridge owns its client,
//   retained states and command runner.
#ifndef VERU_CONSOLE_MQTT_MQTT_BRIDGE_H
#define VERU_CONSOLE_MQTT_MQTT_BRIDGE_H

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "console/mqtt/mqtt_client.h"
#include "console/mqtt/mqtt_commands.h"
#include "console/mqtt/mqtt_retained.h"
#include "console/mqtt/mqtt_topics.h"
#include "console/mqtt/mqtt_url.h"
#include "console/report/report_listener.h"

class MqttBridge : public ReportListener {
 public:
  struct Settings {
    MqttUrl m_Url;
    // --mqtt-topic; empty: "veru/SERIAL".
    std::string m_sBase;
    // --mqtt-discovery; empty: discovery off.
    std::string m_sDiscoveryPrefix = "homeassistant";
    std::string m_sPassword;
    std::string m_sCaFile;
  };

  // fRead and fRun run the commands (FrontEnd::ReadCommand, RunCommand);
  // fFatal ends the program when the broker refuses the credentials at the
  // first connection (with the line to print). iSerialNumber: the saved
  // unit's, or 0 while unknown.
  MqttBridge(Settings _Settings, int iSerialNumber,
             MqttCommands::ReadFunction fRead, MqttCommands::RunFunction fRun,
             MqttClient::FatalFunction fFatal);
  ~MqttBridge() override;

  // Checks what can be checked before connecting (the CA file); false, with
  // *pError, when the bridge cannot work. Then connects at once when the
  // base is known. The owner's thread, before the reports start.
  bool Start(std::string* pError);

  // What the connections so far took and wrote (mqtt_client.h). Any
  // thread.
  const MqttCounts& Counts() const { return m_Counts; }

  void OnReport(const ReportEvent& _Event) override;
  void OnStop() override;

 private:
  // Makes the topics, the retained states and the connection for unit
  // iSerialNumber. m_Mutex held.
  void Connect(int iSerialNumber);
  // Follows the console to unit iSerialNumber (see above). m_Mutex held.
  void SwitchUnit(int iSerialNumber);
  // Ends the commands and the connection, {"state":"offline"} retained on
  // BASE/bridge/state first (when connected). m_Mutex held.
  void Disconnect();
  void OnMessage(const std::string& sTopic, const std::string& sPayload,
                 bool bRetained);
  // Every state and config again, as one batch (the connection's thread).
  void RepublishAll();
  void PublishResult(const std::string& sPayload);
  void Model(const ReportEvent& _Event);

  Settings m_Settings;
  int m_iSerialNumber;
  MqttCommands::ReadFunction m_fRead;
  MqttCommands::RunFunction m_fRun;
  MqttClient::FatalFunction m_fFatal;
  // The unit answers (kept before the retained states exist).
  bool m_bUnitOnline = false;
  MqttCounts m_Counts;

  std::mutex m_Mutex;
  // The unit the retained states are about (0 before the first).
  int m_iUnit = 0;
  // The base's topics. With --mqtt-topic they keep the first unit's serial
  // number after a switch (only the discovery ids hold it, and those are
  // MqttRetained's): the connection's thread reads them unlocked.
  std::unique_ptr<MqttTopics> m_pTopics;
  std::unique_ptr<MqttRetained> m_pRetained;
  std::unique_ptr<MqttClient> m_pClient;
  std::unique_ptr<MqttCommands> m_pCommands;
};

#endif  // VERU_CONSOLE_MQTT_MQTT_BRIDGE_H
