// What one message from the broker asks of the console: the command line it
// stands for, or why it is refused before anything is read or sent. A
// message is refused when it was delivered retained (a stale command must
// not run at every reconnection), when its payload is not valid UTF-8,
// holds a control character or a line end, or is longer than 1 KiB, and
// when a "set" topic's ID is not a device or scene number. The command
// line itself is read against the command table later (mqtt_commands.h).
//
// Pure functions: any thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_INCOMING_H
#define VERU_CONSOLE_MQTT_MQTT_INCOMING_H

#include <string>

#include "console/mqtt/mqtt_topics.h"

// The longest payload taken, in bytes.
constexpr size_t kMostPayloadBytes = 1024;

struct MqttRequest {
  // Where it came from.
  std::string sTopic;
  // The console command line: "ID PAYLOAD" for a device's set topic,
  // "scene ID" for a scene's, the payload for BASE/command. For a refused
  // message, what can be shown of it (cut to 100 bytes).
  std::string sLine;
  // Why it is not run; empty when it is to be read and run.
  std::string sRefusal;
  // From BASE/device/ID/set: only a device command of that device runs.
  bool bDeviceOnly = false;
};

// Empty when the payload may be a command; else why not.
std::string PayloadProblem(const std::string& sPayload);

// The request one message makes. eKind is what MqttTopics::Read made of the
// topic, sID the ID it found; kDiscoveryStatus and kOther are not requests
// (refused as "not a command topic").
MqttRequest ReadMqttMessage(MqttTopics::Incoming eKind, const std::string& sID,
                            const std::string& sTopic,
                            const std::string& sPayload, bool bRetained);

#endif  // VERU_CONSOLE_MQTT_MQTT_INCOMING_H
