#include "console/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

bool WriteAll(int iFile, const std::string& sValue) {
  size_t iDone = 0;
  while (iDone < sValue.size()) {
    ssize_t iWritten = write(iFile, sValue.data() + iDone, sValue.size() - iDone);
    if (iWritten < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    iDone += static_cast<size_t>(iWritten);
  }
  return true;
}

}  // namespace

std::string LoadSetting(const std::string& sKey) {
  char cBuffer[1000];
  cBuffer[0] = '\0';
  FILE* pFile = fopen(sKey.c_str(), "r");
  if (pFile == nullptr) return "";
  if (fgets(cBuffer, sizeof(cBuffer), pFile) == nullptr) cBuffer[0] = '\0';
  fclose(pFile);
  return cBuffer;
}

int SaveSetting(const std::string& sKey, const std::string& sValue) {
  // The password file is made for its owner alone from the first byte on;
  // the others get the usual mode for new files (the umask applies).
  bool bSecret = sKey == "arg_pass";
  mode_t iMode = bSecret ? 0600 : 0666;
  // A temporary name of its own for every save, so saves from the two threads
  // never write the same file; the rename replaces the setting atomically.
  static std::atomic<unsigned> s_iSaveCounter{0};
  std::string sTemp = sKey + ".tmp." + std::to_string(getpid()) + "." +
                      std::to_string(s_iSaveCounter.fetch_add(1));
  int iFile = open(sTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL, iMode);
  if (iFile < 0) return -1;
  bool bOk = (!bSecret || fchmod(iFile, iMode) == 0) &&
             WriteAll(iFile, sValue) && fsync(iFile) == 0;
  bOk = close(iFile) == 0 && bOk;
  if (!bOk || rename(sTemp.c_str(), sKey.c_str()) != 0) {
    unlink(sTemp.c_str());
    return -1;
  }
  return 0;
}

int LeadingInteger(const char* cText) {
  long iValue = strtol(cText, nullptr, 10);
  if (iValue > INT_MAX) return INT_MAX;
  if (iValue < INT_MIN) return INT_MIN;
  return static_cast<int>(iValue);
}

void FrontEnd::SaveSettings(bool bSavePassword) {
  Veru::Engine _Engine;
  if (m_pPollLoop != nullptr) {
    if (!m_pPollLoop->CopyEngine(&_Engine)) return;
  } else {
    Veru::Engine* pEngine = m_pEngine.load();
    if (pEngine == nullptr) return;
    Veru::MutexHolder _Lock(&m_Mutex);
    _Engine = *pEngine;
  }
  char cSerialNumber[20];
  snprintf(cSerialNumber, sizeof(cSerialNumber), "%d", _Engine.m_iSerialNumber);
  SaveSetting("arg_serialnumber", cSerialNumber);
  SaveSetting("arg_username", _Engine.m_sUsername);
  SaveSetting("arg_ip", _Engine.m_sIp);
  SaveSetting("arg_fwd_main", _Engine.m_sFwdMain);
  SaveSetting("arg_fwd_back", _Engine.m_sFwdBack);
  SaveSetting("arg_fwd_active", _Engine.m_sFwdActive);
  SaveSetting("arg_firmware", _Engine.m_sFirmware);
  if (bSavePassword) SaveSetting("arg_pass", _Engine.m_sPassword);
  SaveSetting("arg_usingremote", _Engine.m_bUsingRemote ? "1" : "0");
  SaveSetting("arg_mode", _Engine.m_sMode);
  SaveSetting("arg_usingbackup", _Engine.m_bUsingBackup ? "1" : "0");
}
