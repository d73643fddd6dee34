// MqttCommands runs the commands that come from the broker, one after the
// other, on a thread of its own (never the poll thread, never the thread
// that drives the broker connection, so a command that waits for the unit
// stalls neither), and answers each on BASE/result with the --json
// stream's result event plus "topic". Only what a command table row that
// reports a result runs is taken: device commands and scenes. The rows for
// the person at the console alone (bLocalOnly: quit, connect, suspend,
// resume, show) and help, which has no result to send back, are refused, as
// are
// the requests mqtt_incoming.h refuses; a refused request gets a result
// event with "result":-1 and the reason, and nothing is sent to the unit.
//
// At most kMostWaiting requests wait; one more is refused at once ("too
// many commands waiting"), so no flood of messages can hold memory or
// stall the program.
//
// Threads: Submit from any thread (the connection thread); Stop from the
//   owner's thread. fRead, fRun and fPublish are called on this object's
//   thread only. Lock: m_Mutex guards the queue (a leaf lock).
// Ownership: owns its thread; the functions it is given must stay usable
//   until Stop has returned.
#ifndef VERU_CONSOLE_MQTT_MQTT_COMMANDS_H
#define VERU_CONSOLE_MQTT_MQTT_COMMANDS_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "console/commands/command_table.h"
#include "console/mqtt/mqtt_incoming.h"

class MqttCommands {
 public:
  // The command table's reading of a line (FrontEnd::ReadCommand).
  using ReadFunction = std::function<CommandLine(const std::string&)>;
  // Running a line read (FrontEnd::RunCommand).
  using RunFunction = std::function<CommandOutcome(const CommandLine&)>;
  // Publishing one result event (payload) to BASE/result.
  using PublishFunction = std::function<void(const std::string&)>;

  static constexpr size_t kMostWaiting = 64;

  MqttCommands(ReadFunction fRead, RunFunction fRun, PublishFunction fPublish);
  ~MqttCommands();
  MqttCommands(const MqttCommands&) = delete;
  MqttCommands& operator=(const MqttCommands&) = delete;

  // Queues one request (a refused one too: its result is published in turn).
  void Submit(MqttRequest _Request);
  // Finishes the command running, drops those waiting, ends the thread.
  void Stop();

  // The result event for a request and what came of it (an outcome with no
  // row: refused, with sRefusal or the outcome's reason). Pure.
  static std::string ResultPayload(const MqttRequest& _Request,
                                   const CommandOutcome* pOutcome);

 private:
  void Work();
  void Handle(const MqttRequest& _Request);

  ReadFunction m_fRead;
  RunFunction m_fRun;
  PublishFunction m_fPublish;
  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  std::deque<MqttRequest> m_queRequests;  // guarded by m_Mutex
  bool m_bStopping = false;               // guarded by m_Mutex
  std::thread m_Thread;
};

#endif  // VERU_CONSOLE_MQTT_MQTT_COMMANDS_H
