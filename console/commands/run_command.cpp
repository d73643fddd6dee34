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
#include "engine/output_line.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

// How long a device command keeps retrying, in seconds.
constexpr int kActionRetryWindowS = 60;

// The retry window of a device command or a scene: while polling gets no
// answer, one attempt (no waiting for a minute); a run with a deadline
// (--do) retries until the deadline ends it.
int RetryWindow(const Veru::PollLoop* pPollLoop) {
  int iRetryWindow = pPollLoop->ActionRetryWindow(kActionRetryWindowS);
  int64_t iDeadlineMs = pPollLoop->m_iDeadlineMs;
  if (iDeadlineMs != 0 && iRetryWindow != 0) {
    iRetryWindow = static_cast<int>((iDeadlineMs - Veru::NowMs()) / 1000) + 2;
  }
  return iRetryWindow;
}

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
  _Outcome.bRefused = _Command.bRefused;
  CommandResult& _Result = _Outcome._Result;
  _Result.sCommand = _Command.sLine;
  // A device number with no command word: the result line, nothing sent.
  _Outcome.bReportResult = _Command.iDevice != 0;
  if (_Command.pRow == nullptr) return _Outcome;
  _Outcome.bCommand = true;
  _Outcome.bReportResult = ReportsResult(*_Command.pRow);
  _Outcome.eNext = _Command.pRow->eNext;
  int iDevice = _Command.iDevice;
  switch (_Command.pRow->eKind) {
    case CommandKind::kAction:
    case CommandKind::kCall: {
      std::string sReason;
      _Result.iKind = CommandResult::Kind::kAction;
      int iRetryWindow = RetryWindow(m_pPollLoop);
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
    case CommandKind::kScene: {
      std::string sReason;
      _Result.iKind = CommandResult::Kind::kAction;
      int iRetryWindow = RetryWindow(m_pPollLoop);
      _Result.iResult = m_pPollLoop->RunScene(_Command.iScene, iRetryWindow,
                                              _Result.sMessage, &sReason);
      if (_Result.iResult == -1) _Outcome.sError = sReason;
      if (_Result.iResult == -1 && iRetryWindow == 0 && !sReason.empty()) {
        _Outcome.sError += " (the unit does not answer polling either; "
                           "sent once)";
      }
      break;
    }
    case CommandKind::kCameraImage:
    case CommandKind::kCameraStream: {
      bool bImage = _Command.pRow->eKind == CommandKind::kCameraImage;
      CameraURL(iDevice, bImage ? CommandResult::Kind::kImage
                                : CommandResult::Kind::kStream, &_Result);
      if (_Result.sURL.empty()) {
        _Outcome.sError = bImage ? "no URL for the image"
                                 : "no stream URL: " + _Result.sType;
      }
      break;
    }
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
      // The caller runs the wizard (eNext).
      break;
    case CommandKind::kHelp:
      m_pReport->Help();
      break;
    case CommandKind::kQuit:
      break;
  }
  return _Outcome;
}

void FrontEnd::CameraURL(int iDevice, CommandResult::Kind eKind,
                          CommandResult* pResult) {
  pResult->iKind = eKind;
  if (eKind == CommandResult::Kind::kImage) {
    pResult->sURL = m_pPollLoop->GetCameraImageURL(iDevice);
  } else {
    pResult->sURL = m_pPollLoop->GetCameraStreamURL(iDevice, pResult->sType);
  }
}

void FrontEnd::ReportCommand(const CommandOutcome& _Outcome,
                             FailureLines eFailureLines) {
  if (!_Outcome.bCommand && !_Outcome.sError.empty()) {
    Veru::BeginErrorLine();
    fprintf(stderr, "%s\n", _Outcome.sError.c_str());
    if (_Outcome.bRefused) m_pReport->Refused(_Outcome._Result.sCommand, _Outcome.sError);
  }
  if (!_Outcome.bReportResult && !_Outcome.bCommand) return;
  CommandResult _Result = _Outcome._Result;
  _Result.sReason = _Outcome.sError;
  if (_Outcome.bReportResult) m_pReport->Result(_Result);
  if (_Outcome.Succeeded()) return;
  // Why it failed, once: the controller's words, else the reason. The
  // console's result line shows the words itself.
  std::string sWords =
      Veru::EscapeControlBytes(SplitControllerText(_Result.sMessage).sWords);
  if (eFailureLines == FailureLines::kUnshown) {
    bool bActionFailed = _Result.iKind == CommandResult::Kind::kAction &&
                         _Result.iResult == -1;
    // Nothing else tells why a history could not be read.
    bool bHistory = _Outcome.pRow != nullptr &&
                    _Outcome.pRow->eKind == CommandKind::kHistory;
    if (!bHistory &&
        (!bActionFailed || !sWords.empty() || _Outcome.sError.empty())) {
      return;
    }
  }
  std::string sWhy = !sWords.empty() ? sWords : _Outcome.sError;
  if (sWhy.empty()) sWhy = "failed";
  Veru::BeginErrorLine();
  fprintf(stderr, "veru-console: %s: %s\n",
          Veru::EscapeControlBytes(_Result.sCommand).c_str(), sWhy.c_str());
}
