// The command loop: reads standard input a line at a time and routes each
// line to a credentials prompt (when the engine asked for one) or to
// HandleCommand. Console thread only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/front_end.h"
#include "console/settings.h"
#include "engine/poll_loop.h"

namespace {

// How long RunAction keeps retrying a device command, in seconds.
constexpr int kActionRetryWindowS = 60;

// The load level of a "dim" without a number after it.
constexpr int kDefaultDimLevel = 50;

// A device command that sends one action: the word looked for in the line,
// the action's service and name, and its argument. A word that takes a
// level (dim) has the level written after its argument.
struct DeviceCommand {
  const char* sWord;
  const char* sService;
  const char* sAction;
  const char* sArgument;
  bool bTakesLevel;
};

// In the order the words are looked for: the first word found in the line
// decides. The camera words "image" and "stream" come after these.
const DeviceCommand kDeviceCommands[] = {
    {"on", "urn:upnp-org:serviceId:SwitchPower1", "SetTarget",
     "newTargetValue=1", false},
    {"off", "urn:upnp-org:serviceId:SwitchPower1", "SetTarget",
     "newTargetValue=0", false},
    {"dim", "urn:upnp-org:serviceId:Dimming1", "SetLoadLevelTarget",
     "newLoadlevelTarget=", true},
    {"poll", "urn:lumenhollow-com:serviceId:HaDevice1", "Poll", "", false},
};

// True when the current unit can be polled as it is: reached locally, or
// remotely with a password that was not refused. The poll thread waits for
// exactly this after asking for credentials.
bool HasUsableCredentials(Veru::PollLoop* pPollLoop) {
  Veru::Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine)) return false;
  if (!_Engine.m_bUsingRemote) return true;
  return !_Engine.m_bInvalidUserPass && !_Engine.m_sPassword.empty();
}

// The load level of a dim command: the number after the word (blanks
// between them are skipped), held to 0-100; 50 when no number follows.
int DimLevel(const char* cAfterWord) {
  const char* pText = cAfterWord;
  while (*pText == ' ' || *pText == '\t') ++pText;
  char* pEnd = nullptr;
  long iLevel = strtol(pText, &pEnd, 10);
  if (pEnd == pText) return kDefaultDimLevel;
  if (iLevel < 0) return 0;
  if (iLevel > 100) return 100;
  return static_cast<int>(iLevel);
}

// The first device command whose word the line holds; null when none does.
const DeviceCommand* FindDeviceCommand(const char* cLine) {
  for (const DeviceCommand& _Command : kDeviceCommands) {
    if (strstr(cLine, _Command.sWord) != nullptr) return &_Command;
  }
  return nullptr;
}

// The action's arguments for a line holding the command's word.
std::string ActionArguments(const DeviceCommand& _Command, const char* cLine) {
  std::string sArguments = _Command.sArgument;
  if (_Command.bTakesLevel) {
    const char* cWord = strstr(cLine, _Command.sWord);
    sArguments += std::to_string(DimLevel(cWord + strlen(_Command.sWord)));
  }
  return sArguments;
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
  if (iDevice == 0) return HandleQuery(cBuffer);

  CommandResult _Result;
  _Result.sCommand = cBuffer;
  if (const DeviceCommand* pCommand = FindDeviceCommand(cBuffer)) {
    _Result.iKind = CommandResult::Kind::kAction;
    _Result.iResult = m_pPollLoop->RunAction(
        iDevice, pCommand->sService, pCommand->sAction,
        ActionArguments(*pCommand, cBuffer), kActionRetryWindowS,
        _Result.sMessage);
  } else if (strstr(cBuffer, "image") != nullptr) {
    _Result.iKind = CommandResult::Kind::kImage;
    _Result.sURL = m_pPollLoop->GetCameraImageURL(iDevice);
  } else if (strstr(cBuffer, "stream") != nullptr) {
    _Result.iKind = CommandResult::Kind::kStream;
    _Result.sURL = m_pPollLoop->GetCameraStreamURL(iDevice, _Result.sType);
  }
  m_pReport->Result(_Result);
}
