// The commands from the broker, run in turn (see mqtt_commands.h).
#include "console/mqtt/mqtt_commands.h"

#include <json-c/json.h>

#include "console/report/json_objects.h"

MqttCommands::MqttCommands(ReadFunction fRead, RunFunction fRun,
                           PublishFunction fPublish)
    : m_fRead(std::move(fRead)),
      m_fRun(std::move(fRun)),
      m_fPublish(std::move(fPublish)),
      m_Thread([this] { Work(); }) {}

MqttCommands::~MqttCommands() { Stop(); }

void MqttCommands::Submit(MqttRequest _Request) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (m_bStopping) return;
    if (m_queRequests.size() >= kMostWaiting) {
      _Request.sRefusal = "too many commands waiting";
      // The refusal takes the last place, so its answer still comes.
      m_queRequests.back() = std::move(_Request);
    } else {
      m_queRequests.push_back(std::move(_Request));
    }
  }
  m_Wake.notify_one();
}

void MqttCommands::Stop() {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_bStopping = true;
    m_queRequests.clear();
  }
  m_Wake.notify_one();
  if (m_Thread.joinable()) m_Thread.join();
}

void MqttCommands::Work() {
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  for (;;) {
    m_Wake.wait(_Lock, [this] { return m_bStopping || !m_queRequests.empty(); });
    if (m_bStopping) return;
    MqttRequest _Request = std::move(m_queRequests.front());
    m_queRequests.pop_front();
    _Lock.unlock();
    Handle(_Request);
    _Lock.lock();
  }
}

void MqttCommands::Handle(const MqttRequest& _Request) {
  if (!_Request.sRefusal.empty()) {
    m_fPublish(ResultPayload(_Request, nullptr));
    return;
  }
  CommandLine _Command = m_fRead(_Request.sLine);
  MqttRequest _Refused = _Request;
  if (_Command.pRow == nullptr) {
    _Refused.sRefusal = _Command.sError.empty() ? "not a command" : _Command.sError;
    if (_Command.iDevice != 0 && _Command.sError.empty()) {
      _Refused.sRefusal = "no command word after the device number";
    }
  } else if (_Command.pRow->bLocalOnly || !ReportsResult(*_Command.pRow)) {
    _Refused.sRefusal = std::string(_Command.pRow->sWord) +
                        " is not taken from MQTT (only device commands and "
                        "scenes are)";
  } else if (_Request.bDeviceOnly && !_Command.pRow->bNeedsDevice) {
    _Refused.sRefusal = "not a device command";
  }
  if (!_Refused.sRefusal.empty()) {
    m_fPublish(ResultPayload(_Refused, nullptr));
    return;
  }
  CommandOutcome _Outcome = m_fRun(_Command);
  m_fPublish(ResultPayload(_Request, &_Outcome));
}

std::string MqttCommands::ResultPayload(const MqttRequest& _Request,
                                        const CommandOutcome* pOutcome) {
  CommandResult _Result;
  if (pOutcome != nullptr) {
    _Result = pOutcome->_Result;
    // Without the controller's own text, the reason is the message.
    _Result.sReason = pOutcome->sError;
  } else {
    _Result.iKind = CommandResult::Kind::kAction;
    _Result.iResult = -1;
    _Result.sReason = _Request.sRefusal;
  }
  _Result.sCommand = _Request.sLine;
  json_object* p_json_event = NewResultEvent(_Result);
  AddJsonText(p_json_event, "topic", _Request.sTopic);
  return JsonText(p_json_event);
}
