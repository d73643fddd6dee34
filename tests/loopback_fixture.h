// A fixture for tests that send requests to the current unit or locate it:
// a wired front end (WiredFrontEnd) whose current unit is the fixture's
// m_pEngine, run in a scratch working directory (the transport writes
// wget.N.tmp and wget.log there) on a freshly reset fake clock. HTTPS
// stand-ins of a forward server use the run's TestCertificate, which the
// fetches trust once such a server was started (no certificate settings
// before that). The two locator servers (the compiled-in addresses) are
// loopback servers that a test starts when it needs them.
//
// Ownership: the front end, poll loop and unit records follow
// WiredFrontEnd's rule (the unit list owns the units in it, the fixture the
// others).
// Threads: the fixture itself is used by the test thread; change
// m_pEngine's fields through the Lock()-ed helpers while a poll or request
// may run on another thread.
#ifndef VERU_TESTS_LOOPBACK_FIXTURE_H
#define VERU_TESTS_LOOPBACK_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "console/front_end.h"
#include "engine/model.h"
#include "engine/poll_loop.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

inline Sim::Reply Body(const std::string& sBody, int iDelayMs = 0) {
  Sim::Reply _Reply;
  _Reply.sBody = sBody;
  _Reply.iDelayMs = iDelayMs;
  return _Reply;
}

// The locator URLs as the client must send them.
inline std::string MainLocatorURL(const std::string& sQuery) {
  return std::string("http://") + VERU_LOCATOR_MAIN + "/locator_json.php" +
         sQuery;
}
inline std::string BackupLocatorURL(const std::string& sQuery) {
  return std::string("http://") + VERU_LOCATOR_BACKUP + "/locator_json.php" +
         sQuery;
}

class LoopbackTest : public testing::Test {
 protected:
  LoopbackTest() {
    FakeClock::Reset();
    FakeClock::SetSleepHook(nullptr);
    m_pEngine = m_Wired.NewUnit();
  }
  ~LoopbackTest() override { FakeClock::SetSleepHook(nullptr); }

  void TearDown() override {
    FakeClock::SetSleepHook(nullptr);
    m_MainLocator.Stop();
    m_BackupLocator.Stop();
  }

  // Local access to sIp (port 3480).
  void UseLocal(const std::string& sIp) {
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
    m_pEngine->m_bUsingRemote = false;
    m_pEngine->m_sIp = sIp;
  }
  // Remote access through sFwdActive ("host:port").
  void UseRemote(const std::string& sFwdActive, const std::string& sUsername,
                 const std::string& sPassword, int iSerialNumber) {
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
    m_pEngine->m_bUsingRemote = true;
    m_pEngine->m_sFwdActive = sFwdActive;
    m_pEngine->m_sUsername = sUsername;
    m_pEngine->m_sPassword = sPassword;
    m_pEngine->m_iSerialNumber = iSerialNumber;
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

  void StartLocators() {
    ASSERT_TRUE(StartAt(&m_MainLocator, VERU_LOCATOR_MAIN));
    ASSERT_TRUE(StartAt(&m_BackupLocator, VERU_LOCATOR_BACKUP));
  }

  // Starts the poll thread and waits (real time) until it has ended. On a
  // hang a stop is requested, the test fails and false is returned.
  bool RunThread(int iLimitMs = 5000) {
    if (m_pPollLoop->Start() == 0) return false;
    return WaitForEnd(iLimitMs);
  }

  // Waits (real time) until the poll thread has ended; see RunThread.
  bool WaitForEnd(int iLimitMs = 5000) {
    auto fEnded = [this] { return !m_pPollLoop->m_bRunning; };
    if (WaitUntil(fEnded, iLimitMs)) return true;
    ADD_FAILURE() << "the poll thread did not end in time";
    m_pPollLoop->m_bQuit = true;
    // The thread uses the fixture's records: it must end before they go.
    while (!WaitUntil(fEnded)) {
    }
    return false;
  }

  // No certificate settings unless a test makes some.
  ScopedEnv m_CaFile{"VERU_CA_CERTIFICATE", nullptr};
  ScopedEnv m_Insecure{"VERU_INSECURE_TLS", nullptr};
  ScratchDir m_Dir;
  WiredFrontEnd m_Wired;
  FrontEnd& m_FrontEnd = m_Wired.m_FrontEnd;
  Veru::PollLoop* const m_pPollLoop = m_Wired.PollLoop();
  Veru::Engine* m_pEngine = nullptr;  // the unit the fixture made current
  Sim::SimServer m_MainLocator;
  Sim::SimServer m_BackupLocator;
};

#endif  // VERU_TESTS_LOOPBACK_FIXTURE_H
