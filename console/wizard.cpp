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
#include "console/quiet_terminal.h"
#include "console/settings.h"
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

// Reads a line with the terminal's echo off when the input is a terminal.
// False at end of input.
bool ReadSecretLine(FrontEnd* pFrontEnd, char* cBuffer) {
  QuietTerminal _Quiet(fileno(pFrontEnd->m_pInput));
  return pFrontEnd->ReadLine(cBuffer);
}

// Prints a prompt and reads the answer into cBuffer. At end of input the
// prompt's line is ended and false is returned.
bool Ask(FrontEnd* pFrontEnd, const char* cPrompt, char* cBuffer) {
  printf("%s", cPrompt);
  if (pFrontEnd->ReadLine(cBuffer)) return true;
  printf("\n");
  return false;
}

// The two questions of the password prompt. False at end of input (nothing
// is to be stored then).
bool AskPasswordLines(FrontEnd* pFrontEnd, std::string* psPassword,
                      bool* pbSave) {
  char cPassword[kInputBufferSize];
  cPassword[0] = '\0';
  printf("What is your verunet password?");
  bool bRead = ReadSecretLine(pFrontEnd, cPassword);
  printf("\n");
  if (!bRead) return false;
  char cResponse[kInputBufferSize];
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
  pFrontEnd->m_pEngine = pEngine;
  pFrontEnd->SaveSettings(false);
}

// Prints one line per unit that can be chosen. A current unit reached by a
// typed address is kept in the list under serial number 0, which names no
// unit, so it is left out. The lines are made under the lock and printed
// after it.
void ListUnits(FrontEnd* pFrontEnd) {
  std::vector<std::string> vecLines;
  {
    Veru::MutexHolder _Lock(&pFrontEnd->m_Mutex);
    for (const auto& unit : pFrontEnd->m_pPollLoop->m_mapEngine) {
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
  Veru::MutexHolder _Lock(&pFrontEnd->m_Mutex);
  const auto& mapEngine = pFrontEnd->m_pPollLoop->m_mapEngine;
  auto it = mapEngine.find(iSerialNumber);
  if (it == mapEngine.end()) return false;
  *p_Engine = *it->second;
  return true;
}

// The connection choice for a listed unit, applied and published in one
// hold of the lock. psMode and psPassword, when not null, are stored too.
// With no such unit (any more), no unit is current and false is returned.
bool PublishListedUnit(FrontEnd* pFrontEnd, int iSerialNumber,
                       const std::string* psMode, bool bUsingRemote,
                       const std::string* psPassword) {
  Veru::MutexHolder _Lock(&pFrontEnd->m_Mutex);
  const auto& mapEngine = pFrontEnd->m_pPollLoop->m_mapEngine;
  auto it = iSerialNumber == 0 ? mapEngine.end() : mapEngine.find(iSerialNumber);
  if (it == mapEngine.end()) {
    pFrontEnd->m_pEngine = nullptr;
    return false;
  }
  Veru::Engine* pEngine = it->second;
  if (psMode != nullptr) pEngine->m_sMode = *psMode;
  pEngine->m_bUsingRemote = bUsingRemote;
  // A unit chosen anew starts without a refusal: reached locally it needs
  // no account credentials, remotely it gets the password just typed.
  pEngine->m_bInvalidUserPass = false;
  if (psPassword != nullptr) pEngine->m_sPassword = *psPassword;
  pFrontEnd->m_pEngine = pEngine;
  return true;
}

// The way of connecting to a listed unit: asked when it can be reached both
// ways (the mode is then set), told otherwise. False at end of input.
bool ChooseAccess(FrontEnd* pFrontEnd, const Veru::Engine& _Unit,
                  std::string* psMode, bool* pbSetMode, bool* pbUsingRemote) {
  *pbSetMode = false;
  *pbUsingRemote = false;
  if (_Unit.m_bLocalAvailable && _Unit.m_bRemoteAvailable) {
    char cUserName[kInputBufferSize];
    if (!Ask(pFrontEnd,
             "You can connect locally or remote.\n"
             "Enter A for automatic (recommended),\n"
             "L for local only,\n"
             "R for remote only:",
             cUserName)) {
      return false;
    }
    printf("\n");
    if (cUserName[0] == 'l' || cUserName[0] == 'L') {
      *psMode = "L";
    } else if (cUserName[0] == 'r' || cUserName[0] == 'R') {
      *psMode = "R";
      *pbUsingRemote = true;
    } else {
      *psMode = "A";
    }
    *pbSetMode = true;
  } else if (_Unit.m_bLocalAvailable) {
    printf("Connecting locally on IP: %s\n",
           Veru::EscapeControlBytes(_Unit.m_sIp).c_str());
  } else {
    printf("Connecting remote with verunet user: %s\n",
           _Unit.m_sUsername.c_str());
    *pbUsingRemote = true;
  }
  return true;
}

// The account's units from the locator, the choice of one, the way of
// connecting and, for a remote connection, the password.
void ConnectThroughLocator(FrontEnd* pFrontEnd, const std::string& sUser) {
  if (pFrontEnd->m_pPollLoop->Locate(sUser) != 0) return;
  printf("Here are the VERU engines you can connect to:\n");
  ListUnits(pFrontEnd);

  char cSerialNumber[kInputBufferSize];
  printf("Enter the serial number of the one you want to connect to:");
  bool bRead = pFrontEnd->ReadLine(cSerialNumber);
  printf("\n");
  if (!bRead) return;
  int iSerialNumber = LeadingInteger(cSerialNumber);
  Veru::Engine _Unit;
  if (!CopyListedUnit(pFrontEnd, iSerialNumber, &_Unit)) {
    pFrontEnd->m_pEngine = nullptr;
    printf("That is not a valid serial number.  Exiting\n");
    return;
  }

  std::string sMode;
  bool bSetMode = false;
  bool bUsingRemote = false;
  if (!ChooseAccess(pFrontEnd, _Unit, &sMode, &bSetMode, &bUsingRemote)) {
    return;
  }
  const std::string* psMode = bSetMode ? &sMode : nullptr;

  std::string sPassword;
  bool bSavePassword = false;
  if (bUsingRemote &&
      !AskPasswordLines(pFrontEnd, &sPassword, &bSavePassword)) {
    return;
  }
  if (!PublishListedUnit(pFrontEnd, iSerialNumber, psMode, bUsingRemote,
                         bUsingRemote ? &sPassword : nullptr)) {
    printf("That is not a valid serial number.  Exiting\n");
    return;
  }
  pFrontEnd->SaveSettings(bUsingRemote && bSavePassword);
}

}  // namespace

void FrontEnd::ConnectWizard(std::string sUser) {
  m_pPollLoop->m_bSuspended = true;
  printf("%s", kIntroduction);
  char cUserName[kInputBufferSize];
  bool bAnswered = true;
  if (!sUser.empty()) {
    printf("Is your verunet username %s [Y/n]:", sUser.c_str());
    bAnswered = ReadLine(cUserName);
    if (bAnswered && IsNo(cUserName)) sUser.clear();
    printf("\n");
  }
  if (bAnswered && sUser.empty()) {
    bAnswered = Ask(this,
                    "What is your verunet username (blank if you don't have "
                    "one or an IP):",
                    cUserName);
    if (bAnswered) {
      sUser = cUserName;
      if (IsIpAddress(cUserName)) {
        ConnectByAddress(this, sUser);
        m_pPollLoop->m_bSuspended = false;
        return;
      }
      SaveSetting("arg_username", sUser);
    }
  }
  if (bAnswered) ConnectThroughLocator(this, sUser);
  m_pPollLoop->m_bSuspended = false;
}

void FrontEnd::AskPassword() {
  std::string sPassword;
  bool bSave = false;
  if (!AskPasswordLines(this, &sPassword, &bSave)) return;
  {
    Veru::MutexHolder _Lock(&m_Mutex);
    Veru::Engine* pEngine = m_pEngine.load();
    if (pEngine == nullptr) return;
    pEngine->m_bInvalidUserPass = false;
    pEngine->m_sPassword = sPassword;
  }
  SaveSettings(bSave);
}
