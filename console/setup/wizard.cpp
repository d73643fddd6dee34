// The connection wizard and the password prompt: the console dialogue that
// picks the current unit and how to reach it. Console thread only.
//
// A unit becomes current (m_pEngine) only once its record is complete: a
// typed address gets a new record that is filled before it is published; a
// unit from the locator's list gets its mode and password under m_Mutex, in
// the same hold as the look-up in m_mapEngine and the publication, so the
// poll thread never sees a half-set unit, and a record that a concurrent
// Locate may delete is never used outside the lock. End of input at any
// question ends the dialogue with the current unit and its password as they
// were.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/front_end.h"
#include "console/input/line_input.h"
#include "console/setup/settings.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

const char kIntroduction[] =
    "There are 2 ways to talk to your Veru system.\n"
    "LOCALLY: If this control is on the same home network as your Veru "
    "system\n"
    "  connected by wi-fi or your home LAN, we can talk to it locally.  This\n"
    "  is the fastest method and does not require an internet connection\n"
    "  or a verunet account\n"
    "REMOTE: If you create a verunet account, then you can connect to\n"
    "  your Veru system from anywhere in the world, provided this\n"
    "  control and the Veru engine are both connected to the internet.\n"
    "  This is a secure connection, but, since it's going over the internet\n"
    "  it is much slower.\n"
    "\n"
    "We will now ask for your verunet username, if you have one, and tell\n"
    "you what Veru systems you can control, both locally and remote.\n"
    "\n";

// How the user chose to reach a listed unit.
struct AccessChoice {
  // "A", "L" or "R" when the user was asked; empty keeps the unit's mode.
  std::string sMode;
  bool bUsingRemote = false;
  // Remote access only: the password typed and whether to save it.
  std::string sPassword;
  bool bSavePassword = false;
};

// Polling is paused while the holder lives, so the wizard's questions and
// answers are not broken up by the poll thread's reports. When it ends,
// polling is left as it was found: a user's "suspend" holds.
class PollingPause {
 public:
  explicit PollingPause(Veru::PollLoop* pPollLoop)
      : m_pPollLoop(pPollLoop),
        m_bWasSuspended(m_pPollLoop->m_bSuspended.exchange(true)) {}
  ~PollingPause() { m_pPollLoop->m_bSuspended = m_bWasSuspended; }
  PollingPause(const PollingPause&) = delete;
  PollingPause& operator=(const PollingPause&) = delete;

 private:
  Veru::PollLoop* m_pPollLoop;
  const bool m_bWasSuspended;
};

// A yes/no answer is no when it begins with "n" or "N".
bool IsNo(const char* cAnswer) {
  return cAnswer[0] == 'n' || cAnswer[0] == 'N';
}

// A typed user name is taken as an IP address when it holds three dots and
// begins with a number greater than 0.
bool IsIpAddress(const char* cText) {
  const char* pDot = strchr(cText, '.');
  if (pDot != nullptr) pDot = strchr(pDot + 1, '.');
  if (pDot != nullptr) pDot = strchr(pDot + 1, '.');
  return pDot != nullptr && LeadingInteger(cText) > 0;
}

// Prints a prompt and reads the answer into cBuffer. At end of input the
// prompt's line is ended and false is returned.
bool Ask(FrontEnd* pFrontEnd, const char* cPrompt, char* cBuffer) {
  printf("%s", cPrompt);
  if (pFrontEnd->Input().ReadAnswer(cBuffer)) return true;
  printf("\n");
  return false;
}

// The two questions of the password prompt. False at end of input (nothing
// is to be stored then).
bool AskPasswordLines(FrontEnd* pFrontEnd, std::string* psPassword,
                      bool* pbSave) {
  char cPassword[kAnswerBufferSize];
  cPassword[0] = '\0';
  printf("What is your verunet password?");
  bool bRead = pFrontEnd->Input().ReadSecretAnswer(cPassword);
  printf("\n");
  if (!bRead) return false;
  char cResponse[kAnswerBufferSize];
  cResponse[0] = '\0';
  if (!Ask(pFrontEnd, "Do you want to save this password? [Y/n]", cResponse)) {
    return false;
  }
  *psPassword = cPassword;
  *pbSave = !IsNo(cResponse);
  return true;
}

// A typed address: a new local-only unit, published once filled.
void ConnectByAddress(FrontEnd* pFrontEnd, const std::string& sIp) {
  Veru::Engine* pEngine = new Veru::Engine();
  pEngine->m_iSerialNumber = 0;
  pEngine->m_sIp = sIp;
  pEngine->m_bLocalAvailable = true;
  pEngine->m_bRemoteAvailable = false;
  pEngine->m_sMode = "L";
  pEngine->m_bUsingRemote = false;
  pFrontEnd->SetCurrentEngine(pEngine);
  pFrontEnd->SaveSettings(false);
}

// Prints one line per unit that can be chosen. A current unit reached by a
// typed address is kept in the list under serial number 0, which names no
// unit, so it is left out. The lines are made under the lock and printed
// after it.
void ListUnits(FrontEnd* pFrontEnd) {
  std::vector<std::string> vecLines;
  {
    Veru::MutexHolder _Lock(pFrontEnd->ModelMutex());
    for (const auto& unit : pFrontEnd->PollLoop()->m_mapEngine) {
      if (unit.first == 0) continue;
      const Veru::Engine* pEngine = unit.second;
      const char* cFormat =
          "%d local ip: %s %s can connect local: %s remote: %s\n";
      const char* cLocal = pEngine->m_bLocalAvailable ? "Y" : "N";
      const char* cRemote = pEngine->m_bRemoteAvailable ? "Y" : "N";
      // The address and the name come from the locator.
      std::string sIp = Veru::EscapeControlBytes(pEngine->m_sIp);
      std::string sName = Veru::EscapeControlBytes(pEngine->m_sName);
      int iLength = snprintf(nullptr, 0, cFormat, unit.first, sIp.c_str(),
                             sName.c_str(), cLocal, cRemote);
      std::string sLine(static_cast<size_t>(iLength) + 1, '\0');
      snprintf(&sLine[0], sLine.size(), cFormat, unit.first, sIp.c_str(),
               sName.c_str(), cLocal, cRemote);
      sLine.resize(static_cast<size_t>(iLength));
      vecLines.push_back(sLine);
    }
  }
  for (const std::string& sLine : vecLines) printf("%s", sLine.c_str());
}

// A copy of the listed unit with that serial number; false when there is
// none (0 never names a listed unit).
bool CopyListedUnit(FrontEnd* pFrontEnd, int iSerialNumber,
                    Veru::Engine* p_Engine) {
  if (iSerialNumber == 0) return false;
  Veru::MutexHolder _Lock(pFrontEnd->ModelMutex());
  const auto& mapEngine = pFrontEnd->PollLoop()->m_mapEngine;
  auto it = mapEngine.find(iSerialNumber);
  if (it == mapEngine.end()) return false;
  *p_Engine = *it->second;
  return true;
}

// The connection choice for a listed unit, applied and published in one
// hold of the lock; the password is stored for remote access only. With no
// such unit (any more), no unit is current and false is returned.
bool PublishListedUnit(FrontEnd* pFrontEnd, int iSerialNumber,
                       const AccessChoice& _Choice) {
  Veru::MutexHolder _Lock(pFrontEnd->ModelMutex());
  const auto& mapEngine = pFrontEnd->PollLoop()->m_mapEngine;
  auto it = iSerialNumber == 0 ? mapEngine.end() : mapEngine.find(iSerialNumber);
  if (it == mapEngine.end()) {
    pFrontEnd->SetCurrentEngine(nullptr);
    return false;
  }
  Veru::Engine* pEngine = it->second;
  if (!_Choice.sMode.empty()) pEngine->m_sMode = _Choice.sMode;
  pEngine->m_bUsingRemote = _Choice.bUsingRemote;
  // A unit chosen anew starts without a refusal: reached locally it needs
  // no account credentials, remotely it gets the password just typed.
  pEngine->m_bInvalidUserPass = false;
  if (_Choice.bUsingRemote) pEngine->m_sPassword = _Choice.sPassword;
  pFrontEnd->SetCurrentEngine(pEngine);
  return true;
}

// The way of connecting to a listed unit: asked when it can be reached both
// ways (the mode is then set), told otherwise; then, for remote access, the
// password. False at end of input.
bool ChooseAccess(FrontEnd* pFrontEnd, const Veru::Engine& _Unit,
                  AccessChoice* pChoice) {
  if (_Unit.m_bLocalAvailable && _Unit.m_bRemoteAvailable) {
    char cAnswer[kAnswerBufferSize];
    if (!Ask(pFrontEnd,
             "You can connect locally or remote.\n"
             "Enter A for automatic (recommended),\n"
             "L for local only,\n"
             "R for remote only:",
             cAnswer)) {
      return false;
    }
    printf("\n");
    if (cAnswer[0] == 'l' || cAnswer[0] == 'L') {
      pChoice->sMode = "L";
    } else if (cAnswer[0] == 'r' || cAnswer[0] == 'R') {
      pChoice->sMode = "R";
      pChoice->bUsingRemote = true;
    } else {
      pChoice->sMode = "A";
    }
  } else if (_Unit.m_bLocalAvailable) {
    printf("Connecting locally on IP: %s\n",
           Veru::EscapeControlBytes(_Unit.m_sIp).c_str());
  } else {
    printf("Connecting remote with verunet user: %s\n",
           _Unit.m_sUsername.c_str());
    pChoice->bUsingRemote = true;
  }
  return !pChoice->bUsingRemote ||
         AskPasswordLines(pFrontEnd, &pChoice->sPassword,
                          &pChoice->bSavePassword);
}

// The account's units from the locator, the choice of one, the way of
// connecting and, for a remote connection, the password.
void ConnectThroughLocator(FrontEnd* pFrontEnd, const std::string& sUser) {
  if (pFrontEnd->PollLoop()->Locate(sUser) != 0) return;
  printf("Here are the VERU engines you can connect to:\n");
  ListUnits(pFrontEnd);

  char cSerialNumber[kAnswerBufferSize];
  printf("Enter the serial number of the one you want to connect to:");
  bool bRead = pFrontEnd->Input().ReadAnswer(cSerialNumber);
  printf("\n");
  if (!bRead) return;
  int iSerialNumber = LeadingInteger(cSerialNumber);
  Veru::Engine _Unit;
  if (!CopyListedUnit(pFrontEnd, iSerialNumber, &_Unit)) {
    pFrontEnd->SetCurrentEngine(nullptr);
    printf("That is not a valid serial number.  Exiting\n");
    return;
  }

  AccessChoice _Choice;
  if (!ChooseAccess(pFrontEnd, _Unit, &_Choice)) return;
  if (!PublishListedUnit(pFrontEnd, iSerialNumber, _Choice)) {
    printf("That is not a valid serial number.  Exiting\n");
    return;
  }
  pFrontEnd->SaveSettings(_Choice.bUsingRemote && _Choice.bSavePassword);
}

}  // namespace

void FrontEnd::ConnectWizard(std::string sUser) {
  PollingPause _Pause(m_pPollLoop);
  // Another unit knows nothing of the last one's load time and data
  // version: its first status request asks for everything, so that a unit
  // started in the same second is not asked only for changes.
  Veru::Engine* pBefore = CurrentEngine();
  struct AfreshForAnotherUnit {
    FrontEnd* pFrontEnd;
    Veru::Engine* pBefore;
    ~AfreshForAnotherUnit() {
      Veru::Engine* pAfter = pFrontEnd->CurrentEngine();
      if (pAfter == nullptr || pAfter == pBefore) return;
      Veru::MutexHolder _Lock(pFrontEnd->ModelMutex());
      pFrontEnd->PollLoop()->m_iLoadTime = 0;
      pFrontEnd->PollLoop()->m_iDataVersion = 0;
    }
  } _Afresh{this, pBefore};
  printf("%s", kIntroduction);
  char cUserName[kAnswerBufferSize];
  if (!sUser.empty()) {
    printf("Is your verunet username %s [Y/n]:", sUser.c_str());
    bool bAnswered = Input().ReadAnswer(cUserName);
    printf("\n");
    if (!bAnswered) return;
    if (IsNo(cUserName)) sUser.clear();
  }
  if (sUser.empty()) {
    if (!Ask(this,
             "What is your verunet username (blank if you don't have "
             "one or an IP):",
             cUserName)) {
      return;
    }
    sUser = cUserName;
    if (IsIpAddress(cUserName)) return ConnectByAddress(this, sUser);
    SaveSetting("arg_username", sUser);
  }
  ConnectThroughLocator(this, sUser);
}

void FrontEnd::AskPassword() {
  std::string sPassword;
  bool bSave = false;
  if (!AskPasswordLines(this, &sPassword, &bSave)) return;
  SetPassword(sPassword, bSave);
}
