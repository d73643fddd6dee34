// The command loop: reads standard input a line at a time and routes each
// line to a credentials prompt (when the engine asked for one) or to
// HandleCommand, which runs it through the command table and reports the
// outcome. Console thread only.
#include <cstdio>
#include <cstring>
#include <string>

#include "console/front_end.h"
#include "engine/poll_loop.h"

bool FrontEnd::HasUsableCredentials() {
  Veru::Engine _Engine;
  if (!m_pPollLoop->CopyEngine(&_Engine)) return false;
  if (!_Engine.m_bUsingRemote) return true;
  return _Engine.RemoteCredentialsUsable();
}

bool FrontEnd::ReadLine(char* cBuffer) {
  // A prompt or a result line ends without a line end: show it before
  // waiting, also when standard output is a pipe.
  fflush(stdout);
  int iLength = 0;
  bool bAny = false;
  for (;;) {
    int c = fgetc(m_pInput);
    if (c == EOF) break;
    bAny = true;
    if (c == '\n') break;
    // The rest of a long line is read and dropped, so it never becomes the
    // next command or answer.
    if (iLength < kInputBufferSize - 1) cBuffer[iLength++] = static_cast<char>(c);
  }
  cBuffer[iLength] = '\0';
  return bAny;
}

void FrontEnd::CommandLoop() {
  char cBuffer[kInputBufferSize];
  while (m_pPollLoop->m_bRunning) {
    // End of input ends the program as "quit" does.
    if (!ReadLine(cBuffer)) return;
    if (strcmp(cBuffer, "quit") == 0) return;

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
      HandleCommand(cBuffer);
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
  ReportCommand(RunCommand(std::string(cBuffer)));
}
