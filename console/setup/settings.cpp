#include "console/setup/settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "console/front_end.h"
#include "console/number_text.h"
#include "engine/poll_loop.h"

namespace {

// One setting file of the current unit and the field of the unit record it
// holds. A text field is kept as it is; a flag as "1" or "0" (read back as
// any leading integer other than 0); a number in decimal. A secret setting
// is written for its owner alone, and by SaveSettings only when asked.
struct UnitSetting {
  const char* sKey;
  std::string Veru::Engine::*pText;
  bool Veru::Engine::*pFlag;
  int Veru::Engine::*pNumber;
  bool bSecret;
};

constexpr UnitSetting Text(const char* sKey, std::string Veru::Engine::*pText) {
  return {sKey, pText, nullptr, nullptr, false};
}
constexpr UnitSetting Secret(const char* sKey,
                             std::string Veru::Engine::*pText) {
  return {sKey, pText, nullptr, nullptr, true};
}
constexpr UnitSetting Flag(const char* sKey, bool Veru::Engine::*pFlag) {
  return {sKey, nullptr, pFlag, nullptr, false};
}
constexpr UnitSetting Number(const char* sKey, int Veru::Engine::*pNumber) {
  return {sKey, nullptr, nullptr, pNumber, false};
}

// Every setting file, in the order SaveSettings writes them and
// RestoreUnitSettings reads them.
constexpr UnitSetting kUnitSettings[] = {
    Number("arg_serialnumber", &Veru::Engine::m_iSerialNumber),
    Text("arg_username", &Veru::Engine::m_sUsername),
    Text("arg_ip", &Veru::Engine::m_sIp),
    Text("arg_fwd_main", &Veru::Engine::m_sFwdMain),
    Text("arg_fwd_back", &Veru::Engine::m_sFwdBack),
    Text("arg_fwd_active", &Veru::Engine::m_sFwdActive),
    Text("arg_firmware", &Veru::Engine::m_sFirmware),
    Secret("arg_pass", &Veru::Engine::m_sPassword),
    Flag("arg_usingremote", &Veru::Engine::m_bUsingRemote),
    Text("arg_mode", &Veru::Engine::m_sMode),
    Flag("arg_usingbackup", &Veru::Engine::m_bUsingBackup),
};

// True for the key of a secret setting.
bool IsSecretKey(const std::string& sKey) {
  for (const UnitSetting& _Setting : kUnitSettings) {
    if (_Setting.bSecret && sKey == _Setting.sKey) return true;
  }
  return false;
}

// The setting's value in the unit record, as its file holds it.
std::string SettingValue(const UnitSetting& _Setting,
                         const Veru::Engine& _Engine) {
  if (_Setting.pText != nullptr) return _Engine.*_Setting.pText;
  if (_Setting.pFlag != nullptr) return _Engine.*_Setting.pFlag ? "1" : "0";
  return std::to_string(_Engine.*_Setting.pNumber);
}

// Sets the unit record's field from the text of the setting's file.
void SetSettingField(const UnitSetting& _Setting, const std::string& sValue,
                     Veru::Engine* pEngine) {
  if (_Setting.pText != nullptr) {
    pEngine->*_Setting.pText = sValue;
  } else if (_Setting.pFlag != nullptr) {
    pEngine->*_Setting.pFlag = LeadingInteger(sValue.c_str()) != 0;
  } else {
    pEngine->*_Setting.pNumber = LeadingInteger(sValue.c_str());
  }
}

// What comes between a setting file's name and the writer's process id in
// the name of its temporary file: "KEY.tmp.PID.N".
const char kTempMark[] = ".tmp.";

// One save at a time, whichever thread saves: two saves at once would mix
// their sets on disk. Taken before the values are copied, so the set saved
// last is also the one copied last. Never held across a request; taken before
// the model mutex, never while holding it.
std::mutex g_SaveMutex;

// One setting on its way to disk: written into sTemp, then renamed over
// sTarget.
struct PendingSetting {
  std::string sKey;
  std::string sTarget;
  std::string sTemp;
};

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

// The file a write of the setting must replace: the key itself, or, when
// the key is a symbolic link, the file it leads to (which need not exist
// yet), so the link stays and the write goes through it as a plain write
// would. Gives up after a few links (a loop) and then names the key.
std::string SettingTarget(const std::string& sKey) {
  std::string sPath = sKey;
  for (int iHops = 0; iHops < 16; ++iHops) {
    struct stat _Stat;
    if (lstat(sPath.c_str(), &_Stat) != 0 || !S_ISLNK(_Stat.st_mode)) {
      return sPath;
    }
    char cLink[PATH_MAX];
    ssize_t iLength = readlink(sPath.c_str(), cLink, sizeof(cLink) - 1);
    if (iLength <= 0) return sPath;
    std::string sLink(cLink, static_cast<size_t>(iLength));
    size_t iSlash = sPath.rfind('/');
    if (sLink[0] == '/' || iSlash == std::string::npos) {
      sPath = sLink;
    } else {
      sPath = sPath.substr(0, iSlash + 1) + sLink;
    }
  }
  return sKey;
}

// Writes sValue, flushed to disk, into a temporary file of its own beside
// the setting's target. False (with errno set) when that failed; no
// temporary file is left then.
bool WriteTemporary(const std::string& sValue, PendingSetting* pSetting) {
  // The password file is made for its owner alone from the first byte on;
  // the others get the usual mode for new files (the umask applies).
  bool bSecret = IsSecretKey(pSetting->sKey);
  mode_t iMode = bSecret ? 0600 : 0666;
  // A temporary name of its own for every save, so saves from the two threads
  // never write the same file.
  static std::atomic<unsigned> s_iSaveCounter{0};
  pSetting->sTemp = pSetting->sTarget + kTempMark + std::to_string(getpid()) +
                    "." + std::to_string(s_iSaveCounter.fetch_add(1));
  int iFile = open(pSetting->sTemp.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_EXCL | O_CLOEXEC, iMode);
  if (iFile < 0) return false;
  bool bOk = (!bSecret || fchmod(iFile, iMode) == 0) &&
             WriteAll(iFile, sValue) && fsync(iFile) == 0;
  int iError = errno;
  if (close(iFile) != 0 && bOk) {
    bOk = false;
    iError = errno;
  }
  if (!bOk) {
    unlink(pSetting->sTemp.c_str());
    errno = iError;
  }
  return bOk;
}

// One line on standard error; standard output stays as it is.
void ReportFailure(const PendingSetting& _Setting, int iError) {
  fprintf(stderr, "Could not save the setting file %s: %s\n",
          _Setting.sTarget.c_str(), strerror(iError));
}

void RemoveTemporaries(const std::vector<PendingSetting>& vecPending) {
  for (const PendingSetting& _Setting : vecPending) {
    unlink(_Setting.sTemp.c_str());
  }
}

// All or nothing: every new value is written and flushed into its temporary
// file before any of them replaces its setting file. When one cannot be
// written (or a folder stands where one goes), the temporary files are
// removed, the old files all stay, the failure is reported and -1 is
// returned.
// g_SaveMutex held.
int SaveSettingGroup(
    const std::vector<std::pair<std::string, std::string>>& vecSettings) {
  std::vector<PendingSetting> vecPending;
  for (const auto& setting : vecSettings) {
    PendingSetting _Setting;
    _Setting.sKey = setting.first;
    _Setting.sTarget = SettingTarget(setting.first);
    if (!WriteTemporary(setting.second, &_Setting)) {
      ReportFailure(_Setting, errno);
      RemoveTemporaries(vecPending);
      return -1;
    }
    vecPending.push_back(_Setting);
  }
  // A folder in the place of a setting file would refuse its rename: found
  // before anything is replaced, it keeps the old set whole too.
  for (const PendingSetting& _Setting : vecPending) {
    struct stat _Stat;
    if (stat(_Setting.sTarget.c_str(), &_Stat) == 0 &&
        S_ISDIR(_Stat.st_mode)) {
      ReportFailure(_Setting, EISDIR);
      RemoveTemporaries(vecPending);
      return -1;
    }
  }
  int iResult = 0;
  for (const PendingSetting& _Setting : vecPending) {
    // After a failed rename the remaining ones are still tried: each file
    // stays whole either way.
    if (rename(_Setting.sTemp.c_str(), _Setting.sTarget.c_str()) != 0) {
      ReportFailure(_Setting, errno);
      unlink(_Setting.sTemp.c_str());
      iResult = -1;
    }
  }
  return iResult;
}

// True for "KEY.tmp.PID.N" with a known KEY; *piPid is then PID.
bool IsTemporarySettingFile(const char* cName, long* piPid) {
  for (const UnitSetting& _Setting : kUnitSettings) {
    const char* cKey = _Setting.sKey;
    size_t iKey = strlen(cKey);
    if (strncmp(cName, cKey, iKey) != 0 ||
        strncmp(cName + iKey, kTempMark, sizeof(kTempMark) - 1) != 0) {
      continue;
    }
    const char* pText = cName + iKey + sizeof(kTempMark) - 1;
    char* pEnd = nullptr;
    if (*pText < '0' || *pText > '9') return false;
    *piPid = strtol(pText, &pEnd, 10);
    if (*pEnd != '.' || pEnd[1] == '\0') return false;
    for (pText = pEnd + 1; *pText != '\0'; ++pText) {
      if (*pText < '0' || *pText > '9') return false;
    }
    return true;
  }
  return false;
}

}  // namespace

std::string LoadSetting(const std::string& sKey) {
  char cBuffer[1000];
  cBuffer[0] = '\0';
  // Only a regular file holds a setting: anything else (a FIFO, a device, a
  // folder) reads as absent, and opening it never waits for a writer.
  int iFile = open(sKey.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (iFile < 0) return "";
  struct stat _Stat;
  if (fstat(iFile, &_Stat) != 0 || !S_ISREG(_Stat.st_mode)) {
    close(iFile);
    return "";
  }
  FILE* pFile = fdopen(iFile, "r");
  if (pFile == nullptr) {
    close(iFile);
    return "";
  }
  if (fgets(cBuffer, sizeof(cBuffer), pFile) == nullptr) cBuffer[0] = '\0';
  fclose(pFile);
  return cBuffer;
}

int SaveSetting(const std::string& sKey, const std::string& sValue) {
  std::lock_guard<std::mutex> _Lock(g_SaveMutex);
  return SaveSettingGroup({{sKey, sValue}});
}

void HoldSettingSaves() { g_SaveMutex.lock(); }

void RemoveLeftoverSettingFiles() {
  DIR* pFolder = opendir(".");
  if (pFolder == nullptr) return;
  std::vector<std::string> vecLeftovers;
  while (struct dirent* pEntry = readdir(pFolder)) {
    long iPid = 0;
    if (!IsTemporarySettingFile(pEntry->d_name, &iPid)) continue;
    // A save of a program that still runs is left alone.
    if (iPid > 0 && iPid <= INT_MAX && kill(static_cast<pid_t>(iPid), 0) != 0 &&
        errno == ESRCH) {
      vecLeftovers.push_back(pEntry->d_name);
    }
  }
  closedir(pFolder);
  for (const std::string& sName : vecLeftovers) unlink(sName.c_str());
}

void RestoreUnitSettings(Veru::Engine* pEngine) {
  for (const UnitSetting& _Setting : kUnitSettings) {
    SetSettingField(_Setting, LoadSetting(_Setting.sKey), pEngine);
  }
}

int LeadingInteger(const char* cText) {
  // A stored or typed number beyond the int range is held to it.
  return ClampedNumber(ReadNumberText(cText), INT_MIN, INT_MAX);
}

void FrontEnd::SaveSettings(bool bSavePassword) {
  std::lock_guard<std::mutex> _Lock(g_SaveMutex);
  Veru::Engine _Engine;
  if (m_pPollLoop != nullptr) {
    if (!m_pPollLoop->CopyEngine(&_Engine)) return;
  } else {
    Veru::Engine* pEngine = m_pEngine.load();
    if (pEngine == nullptr) return;
    Veru::MutexHolder _Lock(&m_Mutex);
    _Engine = *pEngine;
  }
  std::vector<std::pair<std::string, std::string>> vecSettings;
  for (const UnitSetting& _Setting : kUnitSettings) {
    if (_Setting.bSecret && !bSavePassword) continue;
    vecSettings.push_back({_Setting.sKey, SettingValue(_Setting, _Engine)});
  }
  SaveSettingGroup(vecSettings);
}
