#include "tests/test_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sim/sim_server.h"

namespace {

// A fresh folder under /tmp; fails the test and throws when none can be made.
std::string MakeTempFolder(const char* sPrefix) {
  std::string sTemplate = std::string("/tmp/") + sPrefix + "-XXXXXX";
  if (mkdtemp(&sTemplate[0]) == nullptr) {
    std::string sWhy = std::string("mkdtemp failed: ") + strerror(errno);
    ADD_FAILURE() << sWhy;
    throw std::runtime_error(sWhy);
  }
  return sTemplate;
}

void RemoveFolder(const std::string& sFolder) {
  if (sFolder.empty()) return;
  std::error_code _Error;
  std::filesystem::remove_all(sFolder, _Error);
}

}  // namespace

ScratchDir::ScratchDir() : m_sPath(MakeTempFolder("veru-test")) {
  std::error_code _Error;
  m_sOldDir = std::filesystem::current_path(_Error).string();
  if (_Error || chdir(m_sPath.c_str()) != 0) {
    std::string sWhy = "cannot enter the scratch folder " + m_sPath;
    RemoveFolder(m_sPath);
    ADD_FAILURE() << sWhy;
    throw std::runtime_error(sWhy);
  }
}

ScratchDir::~ScratchDir() {
  if (chdir(m_sOldDir.c_str()) != 0) {
    ADD_FAILURE() << "cannot go back to " << m_sOldDir;
  }
  RemoveFolder(m_sPath);
}

FakeWget::FakeWget(const std::string& sScriptBody)
    : m_sFolder(MakeTempFolder("veru-test")) {
  std::string sScript = m_sFolder + "/wget";
  WriteFile(sScript, "#!/bin/sh\n" + sScriptBody + "\n");
  chmod(sScript.c_str(), 0755);
  const char* sPath = getenv("PATH");
  m_sOldPath = sPath == nullptr ? "" : sPath;
  setenv("PATH", (m_sFolder + ":" + m_sOldPath).c_str(), 1);
}

FakeWget::~FakeWget() {
  setenv("PATH", m_sOldPath.c_str(), 1);
  RemoveFolder(m_sFolder);
}

ScopedEnv::ScopedEnv(const char* sName, const char* sValue)
    : m_sName(sName) {
  const char* sOld = getenv(sName);
  m_bWasSet = sOld != nullptr;
  if (m_bWasSet) m_sOldValue = sOld;
  if (sValue == nullptr) {
    unsetenv(sName);
  } else {
    setenv(sName, sValue, 1);
  }
}

ScopedEnv::~ScopedEnv() {
  if (m_bWasSet) {
    setenv(m_sName.c_str(), m_sOldValue.c_str(), 1);
  } else {
    unsetenv(m_sName.c_str());
  }
}

const TestCertificate& TestCertificate::Get() {
  static TestCertificate _Certificate;
  return _Certificate;
}

TestCertificate::TestCertificate() {
  char cTemplate[] = "/tmp/veru-cert-XXXXXX";
  if (mkdtemp(cTemplate) == nullptr) return;
  m_sFolder = cTemplate;
  m_bValid = Sim::MakeSelfSignedCertificate(m_sFolder);
}

TestCertificate::~TestCertificate() { RemoveFolder(m_sFolder); }

CapturedOutput::CapturedOutput(Stream eStream)
    : m_eStream(eStream), m_bCapturing(true) {
  if (m_eStream == Stream::kStdout) {
    testing::internal::CaptureStdout();
  } else {
    testing::internal::CaptureStderr();
  }
}

CapturedOutput::~CapturedOutput() { Text(); }

std::string CapturedOutput::Text() {
  if (!m_bCapturing) return m_sText;
  m_bCapturing = false;
  m_sText = m_eStream == Stream::kStdout
                ? testing::internal::GetCapturedStdout()
                : testing::internal::GetCapturedStderr();
  return m_sText;
}

bool WaitUntil(const std::function<bool()>& fCondition, int iTimeoutMs) {
  auto tEnd = std::chrono::steady_clock::now() +
              std::chrono::milliseconds(iTimeoutMs);
  for (;;) {
    if (fCondition()) return true;
    if (std::chrono::steady_clock::now() >= tEnd) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

ScopedSignalSettings::ScopedSignalSettings(
    std::initializer_list<int> vecIgnored,
    std::initializer_list<int> vecBlocked) {
  for (int iSignal : vecIgnored) {
    struct sigaction _Ignore;
    memset(&_Ignore, 0, sizeof(_Ignore));
    _Ignore.sa_handler = SIG_IGN;
    sigemptyset(&_Ignore.sa_mask);
    struct sigaction _Old;
    if (sigaction(iSignal, &_Ignore, &_Old) == 0) {
      m_vecOldActions.emplace_back(iSignal, _Old);
    } else {
      ADD_FAILURE() << "cannot ignore signal " << iSignal;
    }
  }
  sigset_t _Blocked;
  sigemptyset(&_Blocked);
  for (int iSignal : vecBlocked) sigaddset(&_Blocked, iSignal);
  if (pthread_sigmask(SIG_BLOCK, &_Blocked, &m_OldMask) != 0) {
    ADD_FAILURE() << "cannot block the signals";
    sigemptyset(&m_OldMask);
  }
}

ScopedSignalSettings::~ScopedSignalSettings() {
  pthread_sigmask(SIG_SETMASK, &m_OldMask, nullptr);
  for (auto& _Old : m_vecOldActions) {
    sigaction(_Old.first, &_Old.second, nullptr);
  }
}

bool StartAt(Sim::SimServer* pServer, const std::string& sHostPort) {
  std::string sHost;
  int iPort = 0;
  if (!Sim::SplitHostPort(sHostPort, &sHost, &iPort)) return false;
  // Retried until the address is free (a second suite may hold it).
  return WaitUntil([&] { return pServer->Start(sHost, iPort); }, 10000);
}

bool StartLocators(Sim::SimServer* pMain, Sim::SimServer* pBackup,
                   const std::string& sUnits) {
  if (!StartAt(pMain, VERU_LOCATOR_MAIN) ||
      !StartAt(pBackup, VERU_LOCATOR_BACKUP)) {
    return false;
  }
  pMain->SetDefault({200, sUnits, 0, false});
  return true;
}

void StoreUnitSettings(const std::string& sIp, const std::string& sFwdActive,
                       const std::string& sMode,
                       const std::string& sUsingRemote) {
  WriteFile("arg_serialnumber", "30001");
  WriteFile("arg_username", "alice");
  WriteFile("arg_ip", sIp);
  WriteFile("arg_fwd_active", sFwdActive);
  WriteFile("arg_mode", sMode);
  WriteFile("arg_usingremote", sUsingRemote);
}

void StoreDemoUnitSettings(const std::string& sIp, bool bUsingRemote,
                           const std::string& sMode,
                           const std::string& sPassword) {
  WriteFile("arg_serialnumber", "45001");
  WriteFile("arg_username", "demo");
  WriteFile("arg_ip", sIp);
  WriteFile("arg_fwd_active", "127.0.0.1:3443");
  WriteFile("arg_pass", sPassword);
  WriteFile("arg_usingremote", bUsingRemote ? "1" : "0");
  WriteFile("arg_mode", sMode);
}

std::string ReadFile(const std::string& sPath) {
  std::ifstream _File(sPath, std::ios::binary);
  std::stringstream _Text;
  _Text << _File.rdbuf();
  return _Text.str();
}

bool WriteFile(const std::string& sPath, const std::string& sText) {
  std::ofstream _File(sPath, std::ios::binary | std::ios::trunc);
  _File << sText;
  _File.close();
  if (_File.fail()) {
    ADD_FAILURE() << "cannot write " << sPath << ": " << strerror(errno);
    return false;
  }
  return true;
}

bool FileExists(const std::string& sPath) {
  struct stat _Stat;
  return stat(sPath.c_str(), &_Stat) == 0;
}

mode_t FileMode(const std::string& sPath) {
  struct stat _Stat;
  if (stat(sPath.c_str(), &_Stat) != 0) return 0;
  return _Stat.st_mode & 0777;
}

int FetchersRunningIn(const std::string& sFolder) {
  std::error_code _Error;
  std::string sWanted = std::filesystem::canonical(sFolder, _Error).string();
  int iCount = 0;
  for (const auto& _Entry :
       std::filesystem::directory_iterator("/proc", _Error)) {
    std::string sName = _Entry.path().filename().string();
    if (sName.empty() || sName[0] < '0' || sName[0] > '9') continue;
    std::string sComm = ReadFile(_Entry.path().string() + "/comm");
    if (sComm != "wget\n") continue;
    std::error_code _CwdError;
    std::filesystem::path _Cwd =
        std::filesystem::read_symlink(_Entry.path() / "cwd", _CwdError);
    if (!_CwdError && _Cwd.string() == sWanted) ++iCount;
  }
  return iCount;
}

std::string FilesHolding(const std::string& sText) {
  std::set<std::string> setNames;
  std::error_code _Error;
  for (const auto& _Entry : std::filesystem::directory_iterator(".", _Error)) {
    std::error_code _TypeError;
    if (!_Entry.is_regular_file(_TypeError)) continue;
    std::string sName = _Entry.path().filename().string();
    if (ReadFile(sName).find(sText) != std::string::npos) setNames.insert(sName);
  }
  std::string sList;
  for (const std::string& sName : setNames) sList += sName + "\n";
  return sList;
}

std::string ListFolder(const std::string& sFolder) {
  std::error_code _Error;
  std::set<std::string> setNames;
  for (std::filesystem::directory_iterator it(sFolder, _Error), itEnd;
       !_Error && it != itEnd; it.increment(_Error)) {
    setNames.insert(it->path().filename().string());
  }
  if (_Error) return "(cannot open)";
  std::string sList;
  for (const std::string& sName : setNames) sList += sName + "\n";
  return sList;
}

bool EndsWith(const std::string& sText, const std::string& sEnd) {
  return sText.size() >= sEnd.size() &&
         sText.compare(sText.size() - sEnd.size(), sEnd.size(), sEnd) == 0;
}

size_t CountOf(const std::string& sText, const std::string& sPart) {
  size_t iCount = 0;
  for (size_t i = sText.find(sPart); i != std::string::npos;
       i = sText.find(sPart, i + 1)) {
    ++iCount;
  }
  return iCount;
}
