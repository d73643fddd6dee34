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
#include "engine/clock.h"
#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

constexpr int kUsageStatus = 2;

// One line on standard error about a --do LINE.
void TellAbout(const std::string& sLine, const std::string& sWhat) {
  fprintf(stderr, "veru-console: --do \"%s\": %s\n",
          Veru::EscapeControlBytes(sLine).c_str(), sWhat.c_str());
}

// A line --do cannot run: says why (and, for a command refused for what it
// was given, gives the report's result event). False when it can be run.
bool Refuse(const std::string& sLine, const CommandLine& _Command,
            Report* pReport) {
  if (_Command.pRow == nullptr) {
    std::string sWhy = _Command.sError;
    if (sWhy.empty() && _Command.iDevice != 0) {
      sWhy = "no command word after the device number; type help";
    }
    TellAbout(sLine, sWhy.empty() ? "an empty line is not a command" : sWhy);
    if (_Command.bRefused) pReport->Refused(sLine, sWhy);
    return true;
  }
  const char* sWhy = _Command.pRow->sNotForDo;
  if (sWhy == nullptr) return false;
  TellAbout(sLine, std::string(_Command.pRow->sWord) + " is not run by --do: " +
                       sWhy);
  return true;
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
  // The whole run is bounded; while the unit does not answer an action
  // says so once, not with a "GET:" line a second.
  m_pPollLoop->m_iDeadlineMs = Veru::NowMs() + m_Options.m_iTimeout * 1000LL;
  m_pPollLoop->m_bQuietRetries = true;
  const std::vector<std::string>& vecLines = m_Options.m_vecDo;
  std::vector<CommandLine> vecCommands;
  bool bNeedsNames = false;
  // A camera's stream is found from its variables in the model.
  bool bNeedsModel = false;
  for (const std::string& sLine : vecLines) {
    // A line longer than the console reads is refused as the console
    // refuses it.
    if (sLine.size() > kCommandLineMaxBytes) {
      fprintf(stderr, "%s", TooLongLineMessage(sLine.size()).c_str());
      return kUsageStatus;
    }
    vecCommands.push_back(ReadCommandLine(sLine, nullptr));
    const CommandLine& _Command = vecCommands.back();
    if (_Command.bNeedsNames) {
      bNeedsNames = true;
    } else if (Refuse(sLine, _Command, m_pReport.get())) {
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
      if (Refuse(vecLines[i], vecCommands[i], m_pReport.get())) {
        return kUsageStatus;
      }
    }
  }

  int iStatus = 0;
  for (size_t i = 0; i < vecCommands.size(); ++i) {
    CommandOutcome _Outcome = RunCommand(vecCommands[i]);
    bool bTimedOut = !_Outcome.Succeeded() && m_pPollLoop->PastDeadline();
    if (bTimedOut) {
      if (!_Outcome.sError.empty()) _Outcome.sError += "; ";
      _Outcome.sError += "the time allowed ran out (--timeout " +
                         std::to_string(m_Options.m_iTimeout) + " s)";
      if (i + 1 < vecCommands.size()) _Outcome.sError += "; the lines after it were not sent";
    }
    ReportCommand(_Outcome, FailureLines::kEvery);
    if (_Outcome.Succeeded()) continue;
    // A line refused as it ran (a device the history does not know) ends
    // the run as a line that is not a command does.
    if (_Outcome.bRefused) {
      iStatus = kUsageStatus;
    } else if (iStatus == 0) {
      iStatus = 1;
    }
    if (bTimedOut) break;
  }
  return iStatus;
}
