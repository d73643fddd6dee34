#include "tests/test_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/sim_server.h"

namespace {

std::string MakeTempFolder() {
  char cTemplate[] = "/tmp/veru-test-XXXXXX";
  const char* sFolder = mkdtemp(cTemplate);
  return sFolder == nullptr ? std::string() : std::string(sFolder);
}

void RemoveFolder(const std::string& sFolder) {
  if (sFolder.empty()) return;
  std::string sCommand = "rm -rf '" + sFolder + "'";
  if (system(sCommand.c_str()) != 0) {
  }
}

}  // namespace

ScratchDir::ScratchDir() : m_sPath(MakeTempFolder()) {
  char cBuffer[4096];
  if (getcwd(cBuffer, sizeof(cBuffer)) != nullptr) m_sOldDir = cBuffer;
  if (chdir(m_sPath.c_str()) != 0) {
  }
}

ScratchDir::~ScratchDir() {
  if (chdir(m_sOldDir.c_str()) != 0) {
  }
  RemoveFolder(m_sPath);
}

FakeWget::FakeWget(const std::string& sScriptBody)
    : m_sFolder(MakeTempFolder()) {
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

bool StartAt(Sim::SimServer* pServer, const std::string& sHostPort) {
  std::string sHost;
  int iPort = 0;
  if (!Sim::SplitHostPort(sHostPort, &sHost, &iPort)) return false;
  for (int i = 0; i < 100; ++i) {
    if (pServer->Start(sHost, iPort)) return true;
    usleep(100 * 1000);
  }
  return false;
}

std::string ReadFile(const std::string& sPath) {
  std::ifstream _File(sPath, std::ios::binary);
  std::stringstream _Text;
  _Text << _File.rdbuf();
  return _Text.str();
}

void WriteFile(const std::string& sPath, const std::string& sText) {
  std::ofstream _File(sPath, std::ios::binary | std::ios::trunc);
  _File << sText;
}

bool FileExists(const std::string& sPath) {
  struct stat _Stat;
  return stat(sPath.c_str(), &_Stat) == 0;
}
