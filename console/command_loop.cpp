// The command loop: reads standard input a line at a time and routes each
// line to a credentials prompt (when the engine asked for one) or to
// HandleCommand. Console thread only.
#include <cstdio>
#include <cstring>

#include "console/front_end.h"
#include "console/settings.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

// True when the current unit can be polled as it is: reached locally, or
// remotely with a password that was not refused. The poll thread waits for
// exactly this after asking for credentials.
bool HasUsableCredentials(Veru::PollLoop* pPollLoop) {
  Veru::Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine)) return false;
  if (!_Engine.m_bUsingRemote) return true;
  return !_Engine.m_bInvalidUserPass && !_Engine.m_sPassword.empty();
}

}  // namespace

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
    if (bNeedPassword) {
      AskPassword();
    } else if (bNeedUserPassword) {
      ConnectWizard("");
    } else {
      HandleCommand(cBuffer);
      continue;
    }
    if (HasUsableCredentials(m_pPollLoop)) continue;
    // Still missing: ask again at the next line, unless the engine has
    // meanwhile refused the credentials, which calls for the wizard.
    if (bNeedUserPassword) m_bNeedUserPassword = true;
    if (bNeedPassword && !m_bNeedUserPassword) m_bNeedPassword = true;
  }
}

void FrontEnd::HandleCommand(const char* cBuffer) {
  if (strstr(cBuffer, "suspend") != nullptr) {
    m_pPollLoop->m_bSuspended = true;
    return;
  }
  if (strstr(cBuffer, "resume") != nullptr) {
    m_pPollLoop->m_bSuspended = false;
    return;
  }
  if (strstr(cBuffer, "connect") != nullptr) {
    ConnectWizard("");
    return;
  }
  int iDevice = LeadingInteger(cBuffer);
  if (iDevice == 0) return;

  int iResult = -2;
  std::string sMessage;
  if (strstr(cBuffer, "on") != nullptr) {
    iResult = m_pPollLoop->RunAction(iDevice,
                                     "urn:upnp-org:serviceId:SwitchPower1",
                                     "SetTarget", "newTargetValue=1", 60,
                                     sMessage);
  } else if (strstr(cBuffer, "off") != nullptr) {
    iResult = m_pPollLoop->RunAction(iDevice,
                                     "urn:upnp-org:serviceId:SwitchPower1",
                                     "SetTarget", "newTargetValue=0", 60,
                                     sMessage);
  } else if (strstr(cBuffer, "dim") != nullptr) {
    iResult = m_pPollLoop->RunAction(iDevice, "urn:upnp-org:serviceId:Dimming1",
                                     "SetLoadLevelTarget",
                                     "newLoadlevelTarget=50", 60, sMessage);
  } else if (strstr(cBuffer, "poll") != nullptr) {
    iResult = m_pPollLoop->RunAction(
        iDevice, "urn:lumenhollow-com:serviceId:HaDevice1", "Poll", "", 60,
        sMessage);
  } else if (strstr(cBuffer, "image") != nullptr) {
    std::string URL = m_pPollLoop->GetCameraImageURL(iDevice);
    printf("\n---URL for camera image: %s\n",
           Veru::EscapeControlBytes(URL).c_str());
  } else if (strstr(cBuffer, "stream") != nullptr) {
    std::string sType;
    std::string sURL = m_pPollLoop->GetCameraStreamURL(iDevice, sType);
    printf("\n---URL type: %s for camera stream: %s\n",
           Veru::EscapeControlBytes(sType).c_str(),
           Veru::EscapeControlBytes(sURL).c_str());
  }
  printf("\n----COMMAND RESULT: %d %s", iResult,
         Veru::EscapeControlBytes(sMessage).c_str());
  fflush(stdout);
}
