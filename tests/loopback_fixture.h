// A fixture for tests that send requests to the current unit: a PollLoop
// wired to a front end (mutex initialised) whose current unit is the
// fixture's own Engine record, run in a scratch working directory (the
// transport writes wget.N.tmp and wget.log there) on a freshly reset fake
// clock. Also a self-signed certificate made once per test run, for the
// HTTPS stand-in of a forward server, which the fetches trust once such a
// server was started (no certificate settings before that).
//
// Threads: the fixture itself is used by the test thread; change
// m_Engine's fields through the Lock()-ed helpers while a poll or request
// may run on another thread.
#ifndef VERU_TESTS_LOOPBACK_FIXTURE_H
#define VERU_TESTS_LOOPBACK_FIXTURE_H

#include <gtest/gtest.h>
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "console/front_end.h"
#include "engine/model.h"
#include "engine/poll_loop.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"

// The folder holding "cert.pem" and "key.pem" for 127.0.0.1-style hosts,
// made on first use and removed when the test binary ends. Empty when
// openssl failed.
class TestCertificate {
 public:
  static const TestCertificate& Get() {
    static TestCertificate _Certificate;
    return _Certificate;
  }
  std::string CertFile() const { return m_sFolder + "/cert.pem"; }
  std::string KeyFile() const { return m_sFolder + "/key.pem"; }
  bool Valid() const { return m_bValid; }

 private:
  TestCertificate() {
    char cTemplate[] = "/tmp/veru-cert-XXXXXX";
    if (mkdtemp(cTemplate) == nullptr) return;
    m_sFolder = cTemplate;
    m_bValid = Sim::MakeSelfSignedCertificate(m_sFolder);
  }
  ~TestCertificate() {
    if (m_sFolder.empty()) return;
    remove(CertFile().c_str());
    remove(KeyFile().c_str());
    rmdir(m_sFolder.c_str());
  }
  std::string m_sFolder;
  bool m_bValid = false;
};

class LoopbackTest : public testing::Test {
 protected:
  LoopbackTest() : m_PollLoop(&m_FrontEnd.m_Mutex, &m_FrontEnd) {
    pthread_mutex_init(&m_FrontEnd.m_Mutex, nullptr);
    m_FrontEnd.m_pEngine = &m_Engine;
    FakeClock::Reset();
  }
  ~LoopbackTest() override {
    FakeClock::SetSleepHook(nullptr);
    pthread_mutex_destroy(&m_FrontEnd.m_Mutex);
  }

  // Local access to sIp (port 3480).
  void UseLocal(const std::string& sIp) {
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
    m_Engine.m_bUsingRemote = false;
    m_Engine.m_sIp = sIp;
  }
  // Remote access through sFwdActive ("host:port").
  void UseRemote(const std::string& sFwdActive, const std::string& sUsername,
                 const std::string& sPassword, int iSerialNumber) {
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
    m_Engine.m_bUsingRemote = true;
    m_Engine.m_sFwdActive = sFwdActive;
    m_Engine.m_sUsername = sUsername;
    m_Engine.m_sPassword = sPassword;
    m_Engine.m_iSerialNumber = iSerialNumber;
  }
  // Starts an HTTPS server on sHost at any free port, and has the fetches
  // trust its certificate; returns "host:port" for m_sFwdActive, or empty
  // when it could not start.
  std::string StartForwardServer(Sim::SimServer* pServer,
                                 const std::string& sHost) {
    const TestCertificate& _Certificate = TestCertificate::Get();
    if (!_Certificate.Valid()) return "";
    setenv("VERU_CA_CERTIFICATE", _Certificate.CertFile().c_str(), 1);
    if (!pServer->Start(sHost, 0, _Certificate.CertFile(),
                        _Certificate.KeyFile()))
      return "";
    return sHost + ":" + std::to_string(pServer->Port());
  }

  ScopedEnv m_CaFile{"VERU_CA_CERTIFICATE", nullptr};
  ScopedEnv m_Insecure{"VERU_INSECURE_TLS", nullptr};
  ScratchDir m_Dir;
  FrontEnd m_FrontEnd;
  Veru::Engine m_Engine;
  Veru::PollLoop m_PollLoop;
};

// Runs fAction with standard output captured and returns what it printed.
template <class Action>
std::string CaptureOutput(Action fAction) {
  testing::internal::CaptureStdout();
  fAction();
  return testing::internal::GetCapturedStdout();
}

// The entries of a folder other than "." and "..", sorted, one a line.
inline std::string ListFolder(const std::string& sFolder) {
  std::set<std::string> setNames;
  DIR* pDir = opendir(sFolder.c_str());
  if (pDir == nullptr) return "(cannot open)";
  while (struct dirent* pEntry = readdir(pDir)) {
    std::string sName = pEntry->d_name;
    if (sName != "." && sName != "..") setNames.insert(sName);
  }
  closedir(pDir);
  std::string sList;
  for (const std::string& sName : setNames) sList += sName + "\n";
  return sList;
}

#endif  // VERU_TESTS_LOOPBACK_FIXTURE_H
