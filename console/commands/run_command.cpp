// Running one command line: the table's reading of it (command_table.h),
// then what its row runs. Console thread (or the full-screen view's command
// thread), never the poll thread. Device names are copied under m_Mutex;
// no lock is held while a request is out.
#include <cstdio>
#include <string>
#include <vector>

#include "console/commands/command_table.h"
#include "console/front_end.h"
#include "console/history/history_command.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

// How long a device command keeps retrying, in seconds.
constexpr int kActionRetryWindowS = 60;

}  // namespace

std::vector<DeviceName> FrontEnd::DeviceNames() {
  std::vector<DeviceName> vecNames;
  Veru::MutexHolder _Lock(&m_Mutex);
  vecNames.reserve(m_pPollLoop->m_mapDevice.size());
  for (const auto& device : m_pPollLoop->m_mapDevice) {
    vecNames.emplace_back(device.first, device.second->m_sName);
  }
  return vecNames;
}

CommandLine FrontEnd::ReadCommand(const std::string& sLine) {
  CommandLine _Command = ReadCommandLine(sLine, nullptr);
  if (!_Command.bNeedsNames) return _Command;
  std::vector<DeviceName> vecNames = DeviceNames();
  return ReadCommandLine(sLine, &vecNames);
}

void FrontEnd::RunHistory(const std::string& sArguments,
                          CommandOutcome* pOutcome) {
  int iUnit = 0;
  {
    Veru::MutexHolder _Lock(&m_Mutex);
    Veru::Engine* pEngine = m_pEngine.load();
    if (pEngine != nullptr) iUnit = pEngine->m_iSerialNumber;
  }
  HistoryOutcome _History = RunHistoryCommand(
      sArguments, m_Options.m_sHistory, iUnit, Veru::Now());
  if (_History.iStatus != 0) {
    pOutcome->sError = _History.sError;
    pOutcome->bRefused = _History.iStatus == 2;
    return;
  }
  m_pReport->History(_History._Answer);
}

CommandOutcome FrontEnd::RunCommand(const std::string& sLine) {
  return RunCommand(ReadCommand(sLine));
}

CommandOutcome FrontEnd::RunCommand(const CommandLine& _Command) {
  CommandOutcome _Outcome;
  _Outcome.pRow = _Command.pRow;
  _Outcome.sError = _Command.sError;
  CommandResult& _Result = _Outcome._Result;
  _Result.sCommand = _Command.sLine;
  // A device number with no command word: the result line, nothing sent.
  _Outcome.bReportResult = _Command.iDevice != 0;
  if (_Command.pRow == nullptr) return _Outcome;
  _Outcome.bCommand = true;
  _Outcome.bReportResult = _Command.pRow->bNeedsDevice;
  int iDevice = _Command.iDevice;
  switch (_Command.pRow->eKind) {
    case CommandKind::kAction:
    case CommandKind::kCall: {
      std::string sReason;
      _Result.iKind = CommandResult::Kind::kAction;
      // While polling gets no answer, one attempt: no waiting for a minute.
      int iRetryWindow = m_pPollLoop->ActionRetryWindow(kActionRetryWindowS);
      _Result.iResult = m_pPollLoop->RunAction(
          iDevice, _Command.sService, _Command.sAction, _Command.sArguments,
          iRetryWindow, _Result.sMessage, &sReason);
      if (_Result.iResult == -1) _Outcome.sError = sReason;
      if (_Result.iResult == -1 && iRetryWindow == 0 && !sReason.empty()) {
        _Outcome.sError += " (the unit does not answer polling either; "
                           "sent once)";
      }
      break;
    }
    case CommandKind::kCameraImage:
      _Result.iKind = CommandResult::Kind::kImage;
      _Result.sURL = m_pPollLoop->GetCameraImageURL(iDevice);
      if (_Result.sURL.empty()) _Outcome.sError = "no URL for the image";
      break;
    case CommandKind::kCameraStream:
      _Result.iKind = CommandResult::Kind::kStream;
      _Result.sURL = m_pPollLoop->GetCameraStreamURL(iDevice, _Result.sType);
      if (_Result.sURL.empty()) {
        _Outcome.sError = "no stream URL: " + _Result.sType;
      }
      break;
    case CommandKind::kShow:
      if (!Show(_Command.sLine, _Command.sShowWhat)) {
        _Outcome.sError = "No such device: " + _Command.sShowWhat;
      }
      break;
    case CommandKind::kHistory:
      RunHistory(_Command.sShowWhat, &_Outcome);
      break;
    case CommandKind::kSuspend:
      m_pPollLoop->m_bSuspended = true;
      m_pReport->Notice("polling suspended");
      break;
    case CommandKind::kResume:
      m_pPollLoop->m_bSuspended = false;
      m_pReport->Notice("polling resumed");
      break;
    case CommandKind::kConnect:
      ConnectWizard("");
      break;
    case CommandKind::kHelp:
      m_pReport->Help();
      break;
    case CommandKind::kQuit:
      break;
  }
  return _Outcome;
}

void FrontEnd::ReportCommand(const CommandOutcome& _Outcome) {
  if (!_Outcome.bCommand && !_Outcome.sError.empty()) {
    fprintf(stderr, "%s\n", _Outcome.sError.c_str());
  }
  // The history file unreadable, or a device it does not know.
  if (_Outcome.bCommand && _Outcome.pRow->eKind == CommandKind::kHistory &&
      !_Outcome.sError.empty()) {
    fprintf(stderr, "veru-console: %s: %s\n",
            Veru::EscapeControlBytes(_Outcome._Result.sCommand).c_str(),
            _Outcome.sError.c_str());
  }
  if (!_Outcome.bReportResult) return;
  m_pReport->Result(_Outcome._Result);
  // An action that failed without the controller's text: the reason.
  const CommandResult& _Result = _Outcome._Result;
  if (_Result.iKind == CommandResult::Kind::kAction && _Result.iResult == -1 &&
      _Result.sMessage.empty() && !_Outcome.sError.empty()) {
    fprintf(stderr, "veru-console: %s: %s\n",
            Veru::EscapeControlBytes(_Result.sCommand).c_str(),
            _Outcome.sError.c_str());
  }
}
