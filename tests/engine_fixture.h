// A front end, an engine and a current unit for the locator and main-loop
// tests, run in a scratch folder on the fake clock, with the two locator
// servers (the compiled-in addresses) as loopback servers.
//
// Ownership: the front end, poll loop and unit records follow
// WiredFrontEnd's rule (the unit list owns the units in it, the fixture the
// others).
#ifndef VERU_TESTS_ENGINE_FIXTURE_H
#define VERU_TESTS_ENGINE_FIXTURE_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/front_end.h"
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

class EngineFixture : public testing::Test {
 protected:
  void SetUp() override {
    FakeClock::Reset();
    FakeClock::SetSleepHook(nullptr);
    m_pEngine = m_Wired.NewUnit();
  }

  void TearDown() override {
    FakeClock::SetSleepHook(nullptr);
    m_MainLocator.Stop();
    m_BackupLocator.Stop();
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
    auto tEnd = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(iLimitMs);
    while (m_pPollLoop->m_bRunning) {
      if (std::chrono::steady_clock::now() > tEnd) {
        ADD_FAILURE() << "the poll thread did not end in time";
        m_pPollLoop->m_bQuit = true;
        while (m_pPollLoop->m_bRunning) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // No certificate settings unless a test makes some.
  ScopedEnv m_CaFile{"VERU_CA_CERTIFICATE", nullptr};
  ScopedEnv m_Insecure{"VERU_INSECURE_TLS", nullptr};
  ScratchDir m_Dir;
  WiredFrontEnd m_Wired;
  FrontEnd& m_FrontEnd = m_Wired.m_FrontEnd;
  Veru::PollLoop* const m_pPollLoop = m_Wired.PollLoop();
  Veru::Engine* m_pEngine = nullptr;  // the unit SetUp made current
  Sim::SimServer m_MainLocator;
  Sim::SimServer m_BackupLocator;
};

#endif  // VERU_TESTS_ENGINE_FIXTURE_H
