// A fixture for tests that send requests to the current unit: a wired front
// end (WiredFrontEnd) whose current unit is the fixture's m_Engine, run in a
// scratch working directory (the transport writes wget.N.tmp and wget.log
// there) on a freshly reset fake clock. HTTPS stand-ins of a forward server
// use the run's TestCertificate, which the fetches trust once such a server
// was started (no certificate settings before that).
//
// Threads: the fixture itself is used by the test thread; change
// m_Engine's fields through the Lock()-ed helpers while a poll or request
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

class LoopbackTest : public testing::Test {
 protected:
  LoopbackTest() { FakeClock::Reset(); }
  ~LoopbackTest() override { FakeClock::SetSleepHook(nullptr); }

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
  WiredFrontEnd m_Wired;
  FrontEnd& m_FrontEnd = m_Wired.m_FrontEnd;
  Veru::Engine& m_Engine = *m_Wired.NewUnit();
  Veru::PollLoop& m_PollLoop = *m_Wired.PollLoop();
};

// Runs fAction with standard output captured and returns what it printed.
template <class Action>
std::string CaptureOutput(Action fAction) {
  return CaptureStdoutOf(fAction);
}

#endif  // VERU_TESTS_LOOPBACK_FIXTURE_H
