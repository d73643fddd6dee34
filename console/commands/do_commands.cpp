// --do LINE: console commands run from the command line, one after the
// other, against the unit saved in the folder, and then the end. No poll
// thread runs and standard input is not read; each command's result is
// printed as the console prints it, and the exit status says whether they
// all succeeded. Console thread only.
#include <json-c/json.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/commands/command_table.h"
#include "console/front_end.h"
#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

constexpr int kUsageStatus = 2;

// Why a row is not run by --do, or null when it is.
const char* NotForDo(CommandKind eKind) {
  switch (eKind) {
    case CommandKind::kAction:
    case CommandKind::kCall:
    case CommandKind::kCameraImage:
    case CommandKind::kCameraStream:
    case CommandKind::kHelp:
    case CommandKind::kHistory:
      return nullptr;
    case CommandKind::kShow:
      return "the model is not fetched with --do (use --once for the report)";
    case CommandKind::kSuspend:
    case CommandKind::kResume:
      return "there is no polling to pause or resume with --do";
    case CommandKind::kConnect:
      return "the wizard reads standard input (run veru-console without --do)";
    case CommandKind::kQuit:
      return "--do ends by itself";
  }
  return nullptr;
}

// One line on standard error about a --do LINE.
void TellAbout(const std::string& sLine, const std::string& sWhat) {
  fprintf(stderr, "veru-console: --do \"%s\": %s\n",
          Veru::EscapeControlBytes(sLine).c_str(), sWhat.c_str());
}

// A line --do cannot run: says why. False when it can be run.
bool Refuse(const std::string& sLine, const CommandLine& _Command) {
  if (_Command.pRow == nullptr) {
    TellAbout(sLine, _Command.sError.empty() ? "an empty line is not a command"
                                             : _Command.sError);
    return true;
  }
  const char* sWhy = NotForDo(_Command.pRow->eKind);
  if (sWhy == nullptr) return false;
  TellAbout(sLine, std::string(_Command.pRow->sWord) + " is not run by --do: " +
                       sWhy);
  return true;
}

// The controller's message as one line: its leading blanks and its
// trailing line ends dropped, control bytes escaped.
std::string MessageLine(const std::string& sMessage) {
  size_t iStart = sMessage.find_first_not_of(' ');
  if (iStart == std::string::npos) return "";
  size_t iEnd = sMessage.find_last_not_of("\r\n");
  return Veru::EscapeControlBytes(sMessage.substr(iStart, iEnd + 1 - iStart));
}

}  // namespace

int FrontEnd::LoadDevices(std::string* pReason) {
  json_object* p_json_object = m_pPollLoop->GetStatus();
  if (p_json_object == nullptr) {
    Veru::Engine _Engine;
    bool bRefused = m_pPollLoop->CopyEngine(&_Engine) && _Engine.m_bInvalidUserPass;
    *pReason = bRefused ? "the user name or password was refused"
                        : "no status reply from the unit";
    return -1;
  }
  {
    // No poll thread runs, so the merge's step for devices is used alone,
    // without the printing a merge does.
    Veru::MutexHolder _Lock(&m_Mutex);
    m_pPollLoop->ParseDevices(Veru::GetMember(p_json_object, "devices"), false);
  }
  json_object_put(p_json_object);
  return 0;
}

int FrontEnd::RunDo() {
  if (m_pEngine.load() == nullptr) {
    fprintf(stderr, "veru-console: no unit saved in the setting files of "
                    "this folder; run veru-console without --do to choose "
                    "one\n");
    return 1;
  }
  const std::vector<std::string>& vecLines = m_Options.m_vecDo;
  std::vector<CommandLine> vecCommands;
  bool bNeedsNames = false;
  // A camera's stream is found from its variables in the model.
  bool bNeedsModel = false;
  for (const std::string& sLine : vecLines) {
    vecCommands.push_back(ReadCommandLine(sLine, nullptr));
    const CommandLine& _Command = vecCommands.back();
    if (_Command.bNeedsNames) {
      bNeedsNames = true;
    } else if (Refuse(sLine, _Command)) {
      return kUsageStatus;
    } else if (_Command.pRow->eKind == CommandKind::kCameraStream) {
      bNeedsModel = true;
    }
  }
  if (!HasUsableCredentials()) {
    fprintf(stderr, "veru-console: the unit needs a password (run "
                    "veru-console without --do to give it); nothing sent\n");
    return 1;
  }
  if (bNeedsNames || bNeedsModel) {
    // A device named instead of numbered: its number comes from the unit.
    std::string sReason;
    if (LoadDevices(&sReason) != 0) {
      fprintf(stderr, "veru-console: cannot learn the unit's devices: %s; "
                      "nothing sent\n", sReason.c_str());
      return 1;
    }
    std::vector<DeviceName> vecNames = DeviceNames();
    for (size_t i = 0; i < vecLines.size(); ++i) {
      if (!vecCommands[i].bNeedsNames) continue;
      vecCommands[i] = ReadCommandLine(vecLines[i], &vecNames);
      if (Refuse(vecLines[i], vecCommands[i])) return kUsageStatus;
    }
  }

  int iStatus = 0;
  for (const CommandLine& _Command : vecCommands) {
    CommandOutcome _Outcome = RunCommand(_Command);
    ReportCommand(_Outcome);
    if (_Outcome.Succeeded()) continue;
    if (_Outcome.bRefused) {
      iStatus = kUsageStatus;
    } else if (iStatus == 0) {
      iStatus = 1;
    }
    // ReportCommand told why already.
    if (_Outcome.pRow != nullptr &&
        _Outcome.pRow->eKind == CommandKind::kHistory) {
      continue;
    }
    const CommandResult& _Result = _Outcome._Result;
    // An action's reason without the controller's text is told already.
    if (_Result.iKind == CommandResult::Kind::kAction &&
        _Result.sMessage.empty() && !_Outcome.sError.empty()) {
      continue;
    }
    std::string sWhy = MessageLine(_Result.sMessage);
    if (sWhy.empty()) sWhy = _Outcome.sError;
    if (sWhy.empty()) sWhy = "failed";
    fprintf(stderr, "veru-console: %s: %s\n",
            Veru::EscapeControlBytes(_Command.sLine).c_str(), sWhy.c_str());
  }
  return iStatus;
}
