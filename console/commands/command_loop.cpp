// The command loop: reads command lines (see line_input.h) and routes each
// line to a credentials prompt (when the engine asked for one) or to
// HandleCommand, which runs it through the command table and reports the
// outcome. Console thread only.
#include <cstdio>
#include <string>

#include "console/front_end.h"
#include "console/input/line_input.h"
#include "engine/poll_loop.h"

bool FrontEnd::HasUsableCredentials() {
  Veru::Engine _Engine;
  if (!m_pPollLoop->CopyEngine(&_Engine)) return false;
  if (!_Engine.m_bUsingRemote) return true;
  return _Engine.RemoteCredentialsUsable();
}

void FrontEnd::CommandLoop() {
  LineInput& _Input = Input();
  std::string sLine;
  while (m_pPollLoop->m_bRunning) {
    // End of input ends the program as "quit" does.
    LineRead eRead = _Input.ReadCommandLine(&sLine);
    if (eRead == LineRead::kEnd) return;
    // Refused whole (and told): nothing of it is sent, nor taken as an
    // answer.
    if (eRead == LineRead::kTooLong) continue;
    // The end comes before any prompt: its row, and so its aliases.
    const CommandRow* pRow = ReadCommandLine(sLine.c_str(), nullptr).pRow;
    if (pRow != nullptr && pRow->eNext == CommandNext::kQuit) {
      _Input.Remember(sLine);
      return;
    }

    // A request for credentials routes this line to its prompt. The flag is
    // taken down for the prompt and put back only when the unit still lacks
    // usable credentials afterwards, so commands work again once they are
    // given, and a hook that asks again meanwhile keeps its flag.
    bool bNeedPassword = m_bNeedPassword.exchange(false);
    bool bNeedUserPassword = m_bNeedUserPassword.exchange(false);
    // A need that has ended meanwhile (the unit switched to local access,
    // or the wizard chose another unit) leaves its flag down and the line a
    // command.
    if ((bNeedPassword || bNeedUserPassword) && HasUsableCredentials()) {
      bNeedPassword = false;
      bNeedUserPassword = false;
    }
    if (bNeedPassword) {
      AskPassword();
    } else if (bNeedUserPassword) {
      ConnectWizard("");
    } else {
      // Only a line taken as a command is kept in the history.
      _Input.Remember(sLine);
      HandleCommand(sLine.c_str());
      continue;
    }
    if (HasUsableCredentials()) continue;
    // Still missing: ask again at the next line, unless the engine has
    // meanwhile refused the credentials, which calls for the wizard.
    if (bNeedUserPassword) m_bNeedUserPassword = true;
    if (bNeedPassword && !m_bNeedUserPassword) m_bNeedPassword = true;
  }
}

void FrontEnd::HandleCommand(const char* cBuffer) {
  CommandOutcome _Outcome = RunCommand(std::string(cBuffer));
  ReportCommand(_Outcome, FailureLines::kUnshown);
  if (_Outcome.eNext == CommandNext::kWizard) ConnectWizard("");
}
