// The poll thread's main loop: access mode, credentials, pause, failure
// counting, re-locating and reconnecting, stopping.
//
// Controller units are loopback servers on 127.0.0.31 (answers),
// 127.0.0.32 (nothing listens: every poll fails at once) and an HTTPS
// forward server on 127.0.0.33. Sleeps run on the fake clock; a sleep hook
// plays the console's part at a chosen wait.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <vector>

#include "console/commands/command_table.h"
#include "console/report/report.h"
#include "engine/clock.h"
#include "tests/loopback_fixture.h"

namespace {

const char* const kAnsweringIp = "127.0.0.31";
const char* const kSilentIp = "127.0.0.32";

// The lines of sOut that start with one of the prefixes, in order. The model
// printing of a merge is left out this way.
std::string KeepLines(const std::string& sOut,
                      const std::vector<std::string>& vecPrefixes) {
  std::istringstream _Stream(sOut);
  std::string sLine;
  std::string sKept;
  while (std::getline(_Stream, sLine)) {
    for (const std::string& sPrefix : vecPrefixes) {
      if (sLine.compare(0, sPrefix.size(), sPrefix) == 0) {
        sKept += sLine + "\n";
        break;
      }
    }
  }
  return sKept;
}

// The loop's own report lines.
std::string LoopLines(const std::string& sOut) {
  return KeepLines(sOut, {"!!!!!!!!!!", "--ENGINE", "MainLoop", "Unable",
                          "******", "PASSWORD", "USER/", "GET:http://" +
                          std::string(VERU_LOCATOR_MAIN)});
}

// The minimumdelay= value of every logged status request.
std::vector<std::string> MinimumDelays(
    const std::vector<Sim::LoggedRequest>& vecLog) {
  std::vector<std::string> vecDelays;
  for (const Sim::LoggedRequest& _Request : vecLog) {
    size_t iStart = _Request.sTarget.find("minimumdelay=");
    size_t iEnd = _Request.sTarget.find('&', iStart);
    vecDelays.push_back(iStart == std::string::npos
                            ? "?"
                            : _Request.sTarget.substr(iStart + 13,
                                                      iEnd - iStart - 13));
  }
  return vecDelays;
}

std::string NoResponse(int iCount, int iTime) {
  return "!!!!!!!!!! NO RESPONSE COUNT " + std::to_string(iCount) + " time " +
         std::to_string(iTime) + " !!!!!!!!!\n";
}

std::string LocatorGet(const std::string& sUser, int iBytes) {
  return "GET:" + MainLocatorURL("?username=" + sUser) + " got: " +
         std::to_string(iBytes) + " bytes\n";
}

// A locator document listing unit 100 with the given members.
std::string UnitDocument(const std::string& sMembers) {
  return "{\"units\":[{\"serialNumber\":100," + sMembers + "}]}";
}

class MainLoopTest : public LoopbackTest {
 protected:
  void SetUp() override {
    LoopbackTest::SetUp();
    m_pEngine->m_iSerialNumber = 100;
    m_pEngine->m_sUsername = "bob";
    m_pEngine->m_sMode = "A";
  }

  void TearDown() override {
    m_Unit.Stop();
    m_Forward.Stop();
    LoopbackTest::TearDown();
  }

  void StartUnit() { ASSERT_TRUE(m_Unit.Start(kAnsweringIp, 3480)); }

  // An HTTPS forward server on 127.0.0.33, whose certificate the fetches
  // trust; the unit is reached remotely through it with user "bob".
  void StartForward() {
    const TestCertificate& _Certificate = TestCertificate::Get();
    ASSERT_TRUE(_Certificate.Valid()) << "no certificate could be made";
    setenv("VERU_CA_CERTIFICATE", _Certificate.CertFile().c_str(), 1);
    ASSERT_TRUE(m_Forward.Start("127.0.0.33", 0, _Certificate.CertFile(),
                                _Certificate.KeyFile()));
    m_pEngine->m_sFwdActive = "127.0.0.33:" + std::to_string(m_Forward.Port());
    m_pEngine->m_bUsingRemote = true;
    m_pEngine->m_sMode = "R";
  }

  // Asks the loop to stop when the server sees its iCount-th request; the
  // request is answered with "{}".
  void QuitAtRequest(Sim::SimServer* pServer, int iCount) {
    auto pSeen = std::make_shared<std::atomic<int>>(0);
    Veru::PollLoop* pPollLoop = m_pPollLoop;
    pServer->SetHandler([=](const Sim::LoggedRequest&, Sim::Reply* pReply) {
      if (++*pSeen < iCount) return false;
      pPollLoop->m_bQuit = true;
      pReply->sBody = "{}";
      return true;
    });
  }

  // The loop goes on looking for a unit it gave up: stops it at its first
  // wait after the give-up (the pause before the first round, which prints
  // nothing), after fHook has seen the wait.
  void StopAtGiveUp(std::function<void(int)> fHook = nullptr) {
    Veru::PollLoop* pPollLoop = m_pPollLoop;
    FakeClock::SetSleepHook([=](int iMs) {
      if (fHook) fHook(iMs);
      if (pPollLoop->m_bGivenUp) pPollLoop->m_bQuit = true;
    });
  }

  // Runs the loop on this thread and returns what it printed.
  std::string RunHere() {
    CapturedOutput _Capture;
    m_pPollLoop->MainLoop();
    return _Capture.Text();
  }

  // Runs the loop on the poll thread and returns what it printed.
  std::string RunOnThread(int iLimitMs = 5000) {
    CapturedOutput _Capture;
    RunThread(iLimitMs);
    return _Capture.Text();
  }

  Sim::SimServer m_Unit;
  Sim::SimServer m_Forward;
};

TEST_F(MainLoopTest, FailedPollsAreCountedAndSlowDownTheNextRequest) {
  StartUnit();
  m_Unit.Queue(Body("garbage"));
  m_Unit.Queue(Body("garbage"));
  m_Unit.Queue(Body("{}"));
  QuitAtRequest(&m_Unit, 1);
  m_pEngine->m_sIp = kAnsweringIp;
  m_pPollLoop->m_iState = 4;  // as reported by an earlier poll

  std::string sOut = RunOnThread();
  EXPECT_EQ("--ENGINE state -2 comment  loadtime 0 dataversion 0\n" +
                NoResponse(1, 0) + NoResponse(2, 2) + "MainLoop exiting\n",
            LoopLines(sOut));
  EXPECT_EQ((std::vector<std::string>{"2000", "0", "0", "2000"}),
            MinimumDelays(m_Unit.Log()));
  // Two failure waits, and the rest of a second after the good poll that
  // came at once.
  EXPECT_EQ(5000, FakeClock::SleptMs());
  EXPECT_EQ(-2, m_pPollLoop->m_iState);
}

TEST_F(MainLoopTest, RunOfFailuresEndsAfterMoreThanThreeAndSixtySeconds) {
  struct Case {
    const char* sName;
    int iAdvanceMs;  // extra fake time at every 2-second wait
    std::string sExpected;
  };
  const std::string sLost =
      LocatorGet("bob", 0) + "Unable to connect.\n******CONNECTION LOST******\n";
  const Case kCases[] = {
      {"four failures in six seconds", 0,
       NoResponse(1, 0) + NoResponse(2, 2) + NoResponse(3, 4) +
           NoResponse(4, 6) + "MainLoop exiting\n"},
      {"three failures past sixty seconds", 38000,
       NoResponse(1, 0) + NoResponse(2, 40) + NoResponse(3, 80) +
           NoResponse(4, 120) + sLost},
      {"exactly sixty seconds", 18000,
       NoResponse(1, 0) + NoResponse(2, 20) + NoResponse(3, 40) +
           NoResponse(4, 60) + NoResponse(5, 80) + sLost},
  };
  StartLocators();
  // The locator knows nothing new (an empty reply from both servers), so
  // reconnecting fails in mode "L".
  m_pEngine->m_sIp = kSilentIp;
  m_pEngine->m_sMode = "L";
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    FakeClock::Reset();
    m_pPollLoop->m_bQuit = false;
    m_pPollLoop->m_iNoResponseCount = 0;
    m_pPollLoop->m_tFirstNoResponse = 0;
    m_MainLocator.ClearLog();
    m_pPollLoop->m_bGivenUp = false;
    int iWaits = 0;
    StopAtGiveUp([&](int iMs) {
      if (iMs != 2000) return;
      FakeClock::Advance(_Case.iAdvanceMs);
      if (++iWaits == 4 && _Case.iAdvanceMs == 0) m_pPollLoop->m_bQuit = true;
    });
    EXPECT_EQ(_Case.sExpected, LoopLines(RunHere()));
    EXPECT_EQ(_Case.iAdvanceMs == 0 ? 0u : 1u, m_MainLocator.Log().size());
  }
}

TEST_F(MainLoopTest, GoodPollEndsTheRunAndTheReconnects) {
  // As if three reconnects and three failures had just been made.
  m_pPollLoop->m_iRetryCount = 3;
  m_pPollLoop->m_iNoResponseCount = 3;
  m_pPollLoop->m_tFirstNoResponse = Veru::Now() - 100;
  StartUnit();
  StartLocators();
  m_Unit.Queue(Body("{}"));
  m_Unit.SetDefault(Body("garbage"));
  m_pEngine->m_sIp = kAnsweringIp;
  m_pEngine->m_sMode = "L";
  StopAtGiveUp([](int iMs) {
    if (iMs == 2000) FakeClock::Advance(30000);
  });

  std::string sOut = RunOnThread();
  // Counted from 1 and time 0 again, and Reconnect is asked again (the
  // locator is fetched) instead of giving up at once.
  EXPECT_EQ(NoResponse(1, 0) + NoResponse(2, 32) + NoResponse(3, 64) +
                NoResponse(4, 96) + LocatorGet("bob", 0) +
                "Unable to connect.\n******CONNECTION LOST******\n",
            LoopLines(sOut));
  EXPECT_EQ(0, m_pPollLoop->m_iRetryCount);
  EXPECT_EQ(0, m_pPollLoop->m_iNoResponseCount);
  EXPECT_EQ(0, m_pPollLoop->m_tFirstNoResponse);
}

TEST_F(MainLoopTest, ThreeReconnectsThenTheFourthRunEndsTheConnection) {
  // Every failed run switches between local and remote access: the locator
  // lists the unit on the home network and for user bob.
  const std::string sDocument = UnitDocument(
      "\"ipAddress\":\"127.0.0.32\",\"users\":[\"bob\"],"
      "\"active_server\":\"127.0.0.34:4443\"");
  StartLocators();
  m_MainLocator.SetDefault(Body(sDocument));
  m_pEngine->m_sIp = kSilentIp;
  m_pEngine->m_sFwdActive = "127.0.0.34:4443";  // nothing listens there
  m_pEngine->m_sPassword = "secret";
  StopAtGiveUp([](int iMs) {
    if (iMs == 2000) FakeClock::Advance(30000);
  });

  std::string sOut = RunOnThread();
  std::string sRun = NoResponse(1, 0) + NoResponse(2, 32) + NoResponse(3, 64) +
                     NoResponse(4, 96);
  std::string sRetry =
      sRun + LocatorGet("bob", static_cast<int>(sDocument.size()));
  EXPECT_EQ(sRetry + "******CONNECTION RETRY remote: 1******\n" + sRetry +
                "******CONNECTION RETRY remote: 0******\n" + sRetry +
                "******CONNECTION RETRY remote: 1******\n" + sRun +
                "Unable to connect.\n******CONNECTION LOST******\n",
            LoopLines(sOut));
  EXPECT_EQ(3u, m_MainLocator.Log().size());
  EXPECT_TRUE(m_pEngine->m_bUsingRemote);
  EXPECT_EQ("1", ReadFile("arg_usingremote"));  // the retry saved the switch
  EXPECT_FALSE(FileExists("arg_pass"));
}

TEST_F(MainLoopTest, ReconnectBranches) {
  struct Case {
    const char* sName;
    bool bRemote;
    const char* sMode;
    const char* sMembers;  // of unit 100 in the locator's reply; null: none
    bool bResult;
    bool bRemoteAfter;
  };
  // The unit starts at IP 10.0.0.1 and forward server fwd1.
  const Case kCases[] = {
      {"local: new IP", false, "A", "\"ipAddress\":\"10.0.0.2\"", true, false},
      {"local, mode L: new IP", false, "L", "\"ipAddress\":\"10.0.0.2\"", true,
       false},
      {"local: switch to remote", false, "A",
       "\"ipAddress\":\"10.0.0.1\",\"users\":[\"bob\"]", true, true},
      {"local, mode L: no switch", false, "L",
       "\"ipAddress\":\"10.0.0.1\",\"users\":[\"bob\"]", false, false},
      {"local: not a user of the unit", false, "A",
       "\"ipAddress\":\"10.0.0.1\",\"users\":[\"ann\"]", false, false},
      {"local: no locator", false, "A", nullptr, false, false},
      {"remote: new forward server", true, "A",
       "\"active_server\":\"fwd2\",\"ipAddress\":\"10.0.0.1\"", true, true},
      {"remote, mode R: new forward server", true, "R",
       "\"active_server\":\"fwd2\"", true, true},
      {"remote: switch to local", true, "A",
       "\"active_server\":\"fwd1\",\"ipAddress\":\"10.0.0.1\"", true, false},
      {"remote, mode R: no switch", true, "R",
       "\"active_server\":\"fwd1\",\"ipAddress\":\"10.0.0.1\"", false, true},
      {"remote: no IP address", true, "A",
       "\"active_server\":\"fwd1\",\"ipAddress\":\"\"", false, true},
  };
  StartLocators();
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    m_MainLocator.SetDefault(
        Body(_Case.sMembers == nullptr ? "" : UnitDocument(_Case.sMembers)));
    m_BackupLocator.SetDefault(Body(""));
    m_pEngine->m_bUsingRemote = _Case.bRemote;
    m_pEngine->m_sMode = _Case.sMode;
    m_pEngine->m_sIp = "10.0.0.1";
    m_pEngine->m_sFwdActive = "fwd1";
    m_pEngine->m_mapUsers.clear();
    m_pEngine->UpdateAvailability();
    CapturedOutput _Capture;
    EXPECT_EQ(_Case.bResult, m_pPollLoop->Reconnect());
    _Capture.Text();
    EXPECT_EQ(_Case.bRemoteAfter, m_pEngine->m_bUsingRemote);
    EXPECT_EQ(m_pEngine, m_pPollLoop->m_mapEngine[100]);
  }
}

TEST_F(MainLoopTest, AccessModeIsSettledOnceAtStart) {
  struct Case {
    const char* sMode;
    bool bRemote;
    const char* sLocatorReply;  // null: the locator is not to be asked
    bool bRemoteAfter;
  };
  const Case kCases[] = {
      {"L", true, nullptr, false},
      {"L", false, nullptr, false},
      {"R", false, nullptr, true},
      {"R", true, nullptr, true},
      {"A", false, nullptr, false},
      {"X", true, nullptr, true},
      {"L\n", true, nullptr, true},  // a hand-edited file: not the mode "L"
      {"", false, nullptr, false},
      {"A", true, "\"ipAddress\":\"10.0.0.7\"", false},
      {"A", true, "\"ipAddress\":\"\"", true},
      {"A", true, "", true},  // neither server answers: -1
  };
  StartLocators();
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(std::string(_Case.sMode) + (_Case.bRemote ? " remote" : " local"));
    m_MainLocator.ClearLog();
    std::string sReply = _Case.sLocatorReply == nullptr ? "" : _Case.sLocatorReply;
    m_MainLocator.SetDefault(
        Body(sReply.empty() ? "null" : UnitDocument(sReply)));
    m_BackupLocator.SetDefault(Body(""));
    m_pEngine->m_sMode = _Case.sMode;
    m_pEngine->m_bUsingRemote = _Case.bRemote;
    m_pPollLoop->m_bQuit = true;  // settle, then stop at the top of the loop
    std::string sOut = RunHere();
    EXPECT_EQ(_Case.bRemoteAfter, m_pEngine->m_bUsingRemote);
    EXPECT_EQ(_Case.sLocatorReply == nullptr ? 0u : 1u,
              m_MainLocator.Log().size());
    EXPECT_EQ("MainLoop exiting\n", KeepLines(sOut, {"MainLoop"}));
  }
}

TEST_F(MainLoopTest, MissingPasswordIsAskedOnceAndNothingIsPolled) {
  StartForward();
  QuitAtRequest(&m_Forward, 1);
  CapturedOutput _Capture;
  ASSERT_NE(0u, m_pPollLoop->Start());
  // The console thread answers the prompt a few waits later.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return m_FrontEnd.m_bNeedPassword && FakeClock::SleptMs() >= 1500;
      },
      5000));
  EXPECT_TRUE(m_Forward.Log().empty());
  {
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);  // as the password prompt
    m_pEngine->m_sPassword = "secret";
    m_pEngine->m_bInvalidUserPass = false;
  }
  WaitForEnd();
  std::string sOut = _Capture.Text();
  EXPECT_EQ("PASSWORD NEEDED:  PRESS ENTER\nMainLoop exiting\n",
            LoopLines(sOut));
  ASSERT_EQ(1u, m_Forward.Log().size());
  EXPECT_EQ(
      "/bob/secret/100/data_request?id=lu_sdata&loadtime=0&dataversion=0"
      "&minimumdelay=2000&timeout=60",
      m_Forward.Log()[0].sTarget);
}

TEST_F(MainLoopTest, RefusedCredentialsAskForUserAndPasswordUncounted) {
  StartForward();
  m_pEngine->m_sPassword = "old";
  m_Forward.Queue(Body("Invalid user/pass"));
  QuitAtRequest(&m_Forward, 1);  // the reply after the queued one
  std::atomic<bool> bPasswordEmptied{false};
  std::atomic<int> iWaits{0};
  FakeClock::SetSleepHook([&](int iMs) {
    if (iMs != 500) return;
    Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
    if (++iWaits == 1) bPasswordEmptied = m_pEngine->m_sPassword.empty();
    if (iWaits == 2) {  // the wizard stores new credentials
      m_pEngine->m_sPassword = "new";
      m_pEngine->m_bInvalidUserPass = false;
    }
  });

  std::string sOut = RunOnThread();
  EXPECT_EQ("USER/PASSWORD NEEDED:  PRESS ENTER\nMainLoop exiting\n",
            LoopLines(sOut));
  EXPECT_TRUE(m_FrontEnd.m_bNeedUserPassword);
  EXPECT_FALSE(m_FrontEnd.m_bNeedPassword);
  EXPECT_TRUE(bPasswordEmptied);
  ASSERT_EQ(2u, m_Forward.Log().size());
  EXPECT_EQ(0u, m_Forward.Log()[0].sTarget.find("/bob/old/100/"));
  EXPECT_EQ(0u, m_Forward.Log()[1].sTarget.find("/bob/new/100/"));
  EXPECT_EQ(0, m_pPollLoop->m_iNoResponseCount);
}

// Whatever state the loop is in, and even when every reply comes at once, it
// never starts two fetches (status requests to the unit or the forward
// server, locator requests) less than a second of fake time apart. A sleep
// hook plays a console that answers every wait at once.
TEST_F(MainLoopTest, FetchesStartAtLeastASecondApartInEveryState) {
  // What happens at every request, besides its reply.
  enum class Then { kNothing, kForgetPassword, kSuspend, kDropUnit };
  struct Case {
    const char* sName;
    bool bRemote;
    const char* sReply;
    int iAdvanceMs;  // extra fake time at every 2-second wait
    Then iThen;
    bool bAsksCredentials;
  };
  const Case kCases[] = {
      {"good reply at once", false, "{}", 0, Then::kNothing, false},
      {"reply that is not JSON", false, "garbage", 0, Then::kNothing, false},
      {"empty reply", false, "", 0, Then::kNothing, false},
      {"JSON that is not an object", false, "[]", 0, Then::kNothing, false},
      {"failures that end in re-locating", false, "garbage", 30000,
       Then::kNothing, false},
      {"credentials refused, given again at once", true, "Invalid user/pass",
       0, Then::kNothing, true},
      {"refusal from a unit reached locally", false, "Invalid user/pass", 0,
       Then::kNothing, false},
      {"password missing, given at once", true, "{}", 0, Then::kForgetPassword,
       true},
      {"suspended, resumed at once", false, "{}", 0, Then::kSuspend, false},
      {"no current unit, one set at once", false, "{}", 0, Then::kDropUnit,
       false},
  };
  const int kFetches = 10;
  StartUnit();
  StartForward();
  StartLocators();
  // The locator lists the unit both ways, so each re-locating switches
  // between local and remote access.
  m_MainLocator.SetDefault(Body(UnitDocument(
      "\"ipAddress\":\"127.0.0.31\",\"users\":[\"bob\"],"
      "\"active_server\":\"" + m_pEngine->m_sFwdActive + "\"")));
  std::mutex _TimesMutex;
  std::vector<int64_t> vecStartMs;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    FakeClock::Reset();
    {
      std::lock_guard<std::mutex> _Lock(_TimesMutex);
      vecStartMs.clear();
    }
    m_pPollLoop->m_bQuit = false;
    m_pPollLoop->m_bSuspended = false;
    m_pPollLoop->m_iNoResponseCount = 0;
    m_pPollLoop->m_iRetryCount = 0;
    m_pPollLoop->m_tFirstNoResponse = 0;
    m_FrontEnd.m_bNeedUserPassword = false;
    m_pEngine->m_sIp = kAnsweringIp;
    m_pEngine->m_sMode = "";  // free to switch, nothing settled at start
    m_pEngine->m_bUsingRemote = _Case.bRemote;
    m_pEngine->m_sPassword = "secret";
    m_pEngine->m_bInvalidUserPass = false;
    // Every server notes when each fetch reached it (the fake time stands
    // still while the loop waits for a reply).
    auto fRecord = [&](const Sim::LoggedRequest& _Request, Sim::Reply* pReply) {
      std::lock_guard<std::mutex> _Lock(_TimesMutex);
      vecStartMs.push_back(Veru::NowMs());
      if (vecStartMs.size() == kFetches) m_pPollLoop->m_bQuit = true;
      if (_Request.sTarget.find("locator_json") != std::string::npos) {
        return false;  // the default document
      }
      if (_Case.iThen == Then::kForgetPassword) {
        Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
        m_pEngine->m_sPassword.clear();
      } else if (_Case.iThen == Then::kSuspend) {
        m_pPollLoop->m_bSuspended = true;
      } else if (_Case.iThen == Then::kDropUnit) {
        m_FrontEnd.m_pEngine = nullptr;
      }
      pReply->sBody = _Case.sReply;
      return true;
    };
    m_Unit.SetHandler(fRecord);
    m_Forward.SetHandler(fRecord);
    m_MainLocator.SetHandler(fRecord);
    FakeClock::SetSleepHook([&](int iMs) {
      if (iMs == 2000) FakeClock::Advance(_Case.iAdvanceMs);
      if (iMs == 500) {  // the credentials wait: the prompt answers
        Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
        m_pEngine->m_sPassword = "secret";
        m_pEngine->m_bInvalidUserPass = false;
      }
      if (iMs == 1000) {  // the pause or the wait for a unit
        m_pPollLoop->m_bSuspended = false;
        m_FrontEnd.m_pEngine = m_pEngine;
      }
    });

    std::string sOut = RunHere();
    FakeClock::SetSleepHook(nullptr);
    m_Unit.SetHandler(nullptr);
    m_Forward.SetHandler(nullptr);
    m_MainLocator.SetHandler(nullptr);
    std::lock_guard<std::mutex> _Lock(_TimesMutex);
    ASSERT_EQ(static_cast<size_t>(kFetches), vecStartMs.size()) << sOut;
    for (size_t i = 1; i < vecStartMs.size(); ++i) {
      EXPECT_GE(vecStartMs[i] - vecStartMs[i - 1], 1000) << "fetch " << i;
    }
    EXPECT_EQ(_Case.bAsksCredentials,
              sOut.find("NEEDED:  PRESS ENTER") != std::string::npos);
  }
  EXPECT_NE(0u, m_MainLocator.Log().size());
}

// A stop asked for while the loop waits ends it without "MainLoop exiting".
TEST_F(MainLoopTest, StopWhileWaitingIsSilent) {
  struct Case {
    const char* sName;
    bool bRemoteWithoutPassword;
    bool bSuspended;
    bool bNoUnit;
    int iWaitMs;     // the wait at which the console acts
    bool bSuspend;   // it pauses polling at the first such wait
    const char* sExpected;
    int64_t iSlept;  // fake milliseconds slept in all
  };
  const Case kCases[] = {
      {"credentials", true, false, false, 500, false,
       "PASSWORD NEEDED:  PRESS ENTER\n", 1000},
      {"pause", false, true, false, 1000, false, "", 2000},
      {"pause after credentials", true, false, false, 500, true,
       "PASSWORD NEEDED:  PRESS ENTER\n", 2500},
      {"no current unit", false, false, true, 1000, false, "", 2000},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    FakeClock::Reset();
    m_pPollLoop->m_bQuit = false;
    m_pPollLoop->m_bSuspended = _Case.bSuspended;
    m_pEngine->m_bUsingRemote = _Case.bRemoteWithoutPassword;
    m_pEngine->m_sMode = "";  // nothing to settle
    m_pEngine->m_sFwdActive = "127.0.0.34:4443";
    m_pEngine->m_sIp = kSilentIp;
    m_FrontEnd.m_pEngine = _Case.bNoUnit ? nullptr : m_pEngine;
    int iWaits = 0;
    int iAllWaits = 0;
    FakeClock::SetSleepHook([&](int iMs) {
      if (++iAllWaits == 20) m_pPollLoop->m_bQuit = true;  // a stuck loop
      if (_Case.bSuspend && iMs == 500) m_pPollLoop->m_bSuspended = true;
      if (iMs == (_Case.bSuspend ? 1000 : _Case.iWaitMs) && ++iWaits == 2) {
        m_pPollLoop->m_bQuit = true;
      }
    });
    CapturedOutput _Capture;
    m_pPollLoop->MainLoop();
    std::string sOut = _Capture.Text();
    EXPECT_EQ(_Case.sExpected, sOut);  // no poll: no GET line
    EXPECT_EQ(_Case.iSlept, FakeClock::SleptMs());
  }
  m_FrontEnd.m_pEngine = m_pEngine;
}

TEST_F(MainLoopTest, PollingGoesOnWhenResumedOrWhenAUnitIsSet) {
  struct Case {
    const char* sName;
    bool bSuspended;
    bool bNoUnit;
  };
  const Case kCases[] = {
      {"resumed", true, false},
      {"unit set", false, true},
  };
  StartUnit();
  m_pEngine->m_sIp = kAnsweringIp;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    FakeClock::Reset();
    m_Unit.ClearLog();
    QuitAtRequest(&m_Unit, 1);
    m_pPollLoop->m_bQuit = false;
    m_pPollLoop->m_bSuspended = _Case.bSuspended;
    m_FrontEnd.m_pEngine = _Case.bNoUnit ? nullptr : m_pEngine;
    int iWaits = 0;
    FakeClock::SetSleepHook([&](int iMs) {
      if (iMs != 1000 || ++iWaits != 3) return;
      m_pPollLoop->m_bSuspended = false;
      m_FrontEnd.m_pEngine = m_pEngine;
    });
    std::string sOut = RunHere();
    EXPECT_EQ("MainLoop exiting\n", LoopLines(sOut));
    EXPECT_EQ(1u, m_Unit.Log().size());
    EXPECT_EQ(3000, FakeClock::SleptMs());
  }
}

TEST_F(MainLoopTest, StopDuringAPollTakesEffectWhenItReturns) {
  StartUnit();
  m_Unit.SetDefault(Body("{}", 300));
  m_pEngine->m_sIp = kAnsweringIp;
  CapturedOutput _Capture;
  ASSERT_NE(0u, m_pPollLoop->Start());
  EXPECT_TRUE(m_Unit.WaitForRequests(1, 3000));
  m_pPollLoop->m_bQuit = true;
  EXPECT_TRUE(m_pPollLoop->m_bRunning);  // the poll is still in flight
  EXPECT_TRUE(WaitForEnd());
  std::string sOut = _Capture.Text();
  EXPECT_EQ("MainLoop exiting\n", LoopLines(sOut));
  EXPECT_EQ(1u, m_Unit.Log().size());
}

TEST_F(MainLoopTest, StartWithoutACurrentUnitStartsNothing) {
  m_FrontEnd.m_pEngine = nullptr;
  EXPECT_EQ(0u, m_pPollLoop->Start());
  EXPECT_FALSE(m_pPollLoop->m_bRunning);
  m_FrontEnd.m_pEngine = m_pEngine;
}

// A unit gone for longer than the give-up: the two lines are printed once,
// then the loop looks for it in rounds, each a pause, the locator and one
// poll (mode L: the local way only). The pauses grow from 5 s, doubling, to
// 60 s and no further; no two fetches start less than a second apart. When
// the unit answers again, polling resumes without a restart and the outage
// is reported with its length.
TEST_F(MainLoopTest, AUnitGoneLongerThanTheGiveUpIsFollowedWithoutARestart) {
  StartUnit();
  StartLocators();
  m_pEngine->m_sIp = kAnsweringIp;
  m_pEngine->m_sMode = "L";
  const int kRoundsDown = 7;
  std::mutex _Mutex;
  std::vector<int64_t> vecFetchMs;       // every fetch: the unit's, the locator's
  std::vector<int64_t> vecOutagePollMs;  // the unit's, after the give-up
  int iRequests = 0;
  bool bBack = false;
  Veru::PollLoop* pPollLoop = m_pPollLoop;
  m_MainLocator.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    vecFetchMs.push_back(Veru::NowMs());
    // The unit is where it was.
    pReply->sBody = UnitDocument("\"ipAddress\":\"127.0.0.31\"");
    return true;
  });
  m_Unit.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    vecFetchMs.push_back(Veru::NowMs());
    ++iRequests;
    if (iRequests == 1) {
      pReply->sBody = "{\"full\": 1, \"loadtime\": 1, \"dataversion\": 1}";
    } else if (bBack) {
      pPollLoop->m_bQuit = true;  // the poll after the one that came back
      pReply->sBody = "{}";
    } else if (pPollLoop->m_bGivenUp &&
               static_cast<int>(vecOutagePollMs.size()) == kRoundsDown) {
      bBack = true;
      pReply->sBody =
          "{\"full\": 1, \"loadtime\": 2, \"dataversion\": 1, \"devices\": "
          "[{\"id\": 7, \"name\": \"Back\", \"room\": 0, \"category\": 2}]}";
    } else {
      if (pPollLoop->m_bGivenUp) vecOutagePollMs.push_back(Veru::NowMs());
      pReply->sBody = "garbage";
    }
    return true;
  });
  FakeClock::SetSleepHook([](int iMs) {
    if (iMs == 2000) FakeClock::Advance(30000);
  });
  std::string sOut;
  std::string sErrors;
  {
    CapturedOutput _Errors(CapturedOutput::Stream::kStderr);
    sOut = RunOnThread();
    sErrors = _Errors.Text();
  }

  std::string sLines = LoopLines(sOut);
  EXPECT_EQ(1u, CountOf(sLines, "Unable to connect.\n******CONNECTION LOST******\n"))
      << sLines;
  EXPECT_EQ(4u, CountOf(sLines, "!!!!!!!!!! NO RESPONSE")) << sLines;
  EXPECT_TRUE(EndsWith(sLines, "MainLoop exiting\n")) << sLines;
  std::lock_guard<std::mutex> _Lock(_Mutex);
  ASSERT_EQ(static_cast<size_t>(kRoundsDown), vecOutagePollMs.size());
  std::vector<int64_t> vecGaps;
  for (size_t i = 1; i < vecOutagePollMs.size(); ++i) {
    vecGaps.push_back(vecOutagePollMs[i] - vecOutagePollMs[i - 1]);
  }
  // Each round: its pause, then the locator, then the poll a second later.
  EXPECT_EQ((std::vector<int64_t>{11000, 21000, 41000, 61000, 61000, 61000}),
            vecGaps);
  std::vector<int64_t> vecSorted = vecFetchMs;
  std::sort(vecSorted.begin(), vecSorted.end());
  for (size_t i = 1; i < vecSorted.size(); ++i) {
    EXPECT_LE(1000, vecSorted[i] - vecSorted[i - 1]) << "fetch " << i;
  }
  // Back: the model is the unit's again, the outage is over and told.
  EXPECT_NE(nullptr, m_pPollLoop->FindDevice(7));
  EXPECT_FALSE(m_pPollLoop->m_bGivenUp);
  EXPECT_FALSE(m_pPollLoop->m_bNoAnswer);
  EXPECT_FALSE(m_FrontEnd.m_bConnectionLost);
  // From the first failed poll (the second request) to the one that came
  // back (the last but one).
  int64_t tOutage = vecFetchMs[vecFetchMs.size() - 2] / 1000 - vecFetchMs[1] / 1000;
  EXPECT_NE(std::string::npos,
            sErrors.find("veru-console: connection restored after " +
                         FormatSpan(tOutage) + "\n"))
      << sErrors;
}

// Automatic mode: the local unit fails, the loop moves to the forward
// server; the local unit comes back, and within the probe period (5 min) a
// short request finds it and the loop switches back the way any reconnect
// does: its line, the settings saved.
TEST_F(MainLoopTest, AutomaticModeComesBackToLocalAccessWithinTheProbePeriod) {
  StartUnit();
  StartForward();
  StartLocators();
  m_pEngine->m_sIp = kAnsweringIp;
  m_pEngine->m_sMode = "A";
  m_pEngine->m_bUsingRemote = false;
  m_pEngine->m_sPassword = "pw";
  m_MainLocator.SetDefault(Body(UnitDocument(
      "\"ipAddress\":\"127.0.0.31\",\"users\":[\"bob\"],\"active_server\":\"" +
      m_pEngine->m_sFwdActive + "\"")));
  std::mutex _Mutex;
  int iLocal = 0;
  int64_t tFirstRemoteMs = 0;
  int64_t tLocalBackMs = 0;
  int64_t tProbeMs = 0;
  std::string sProbe;
  bool bSwitchedBack = false;
  Veru::PollLoop* pPollLoop = m_pPollLoop;
  m_Forward.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    if (tFirstRemoteMs == 0) {
      tFirstRemoteMs = Veru::NowMs();
      tLocalBackMs = tFirstRemoteMs + 100000;  // the local unit is back then
    }
    // A long poll that the unit holds for 10 seconds.
    FakeClock::Advance(10000);
    pReply->sBody = "{}";
    return true;
  });
  m_Unit.SetHandler([&](const Sim::LoggedRequest& _Request, Sim::Reply* pReply) {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    ++iLocal;
    bool bUp = iLocal == 1 || (tLocalBackMs != 0 && Veru::NowMs() >= tLocalBackMs);
    pReply->sBody = bUp ? "{}" : "garbage";
    if (tFirstRemoteMs == 0 || !bUp) return true;
    if (tProbeMs == 0) {
      tProbeMs = Veru::NowMs();
      sProbe = _Request.sTarget;
    } else {
      bSwitchedBack = !pPollLoop->CurrentEngine()->m_bUsingRemote;
      pPollLoop->m_bQuit = true;  // a poll of the local unit again
    }
    return true;
  });
  FakeClock::SetSleepHook([](int iMs) {
    if (iMs == 2000) FakeClock::Advance(30000);
  });
  std::string sLines = LoopLines(RunOnThread(20000));

  EXPECT_EQ(1u, CountOf(sLines, "******CONNECTION RETRY remote: 1******\n"))
      << sLines;
  EXPECT_TRUE(EndsWith(sLines, "******CONNECTION RETRY remote: 0******\n"
                               "MainLoop exiting\n"))
      << sLines;
  std::lock_guard<std::mutex> _Lock(_Mutex);
  ASSERT_NE(0, tProbeMs);
  EXPECT_NE(std::string::npos, sProbe.find("&minimumdelay=0&timeout=0"))
      << sProbe;
  // The first probe, 5 minutes into remote access, already finds it.
  EXPECT_LE(300000, tProbeMs - tFirstRemoteMs);
  EXPECT_GE(300000, tProbeMs - tLocalBackMs);
  EXPECT_TRUE(bSwitchedBack);
  EXPECT_EQ("0", ReadFile("arg_usingremote"));
}

// Automatic mode, both ways down past the give-up: every round tries the
// way the unit was reached, then the other, and a round that finds nothing
// leaves the way as it was. So when the unit comes back, only a switch of
// the way gives the retry line and saves arg_usingremote, whichever round
// it comes back in.
TEST_F(MainLoopTest, AnOutageRoundThatFindsNothingLeavesTheWayAsItWas) {
  struct Case {
    const char* sName;
    bool bBackRemotely;  // the way the unit answers again (the other stays down)
    std::string sRetry;  // the retry lines printed
  };
  const Case kCases[] = {
      {"back remotely", true, "******CONNECTION RETRY remote: 1******\n"},
      {"back locally", false, ""},
  };
  StartUnit();
  StartForward();
  // The locator knows nothing new: the give-up comes after the first run.
  StartLocators();
  // A round finds nothing either way before the unit comes back, so the
  // next round shows whether the first left the way switched.
  const int kPollsDown = 2;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    FakeClock::Reset();
    unlink("arg_usingremote");
    m_pEngine->m_sIp = kAnsweringIp;
    m_pEngine->m_sMode = "A";
    m_pEngine->m_bUsingRemote = false;
    m_pEngine->m_sPassword = "pw";
    m_pPollLoop->m_bQuit = false;
    m_pPollLoop->m_bGivenUp = false;
    m_pPollLoop->m_iRetryCount = 0;
    m_pPollLoop->m_iNoResponseCount = 0;
    m_pPollLoop->m_tFirstNoResponse = 0;
    std::mutex _Mutex;
    int iOutagePolls = 0;
    int iGood = 0;
    Veru::PollLoop* pPollLoop = m_pPollLoop;
    auto fAnswer = [&](bool bRemote, Sim::Reply* pReply) {
      std::lock_guard<std::mutex> _Lock(_Mutex);
      pReply->sBody = "garbage";
      if (!pPollLoop->m_bGivenUp && iGood == 0) return true;
      if (iOutagePolls < kPollsDown || bRemote != _Case.bBackRemotely) {
        ++iOutagePolls;
        return true;
      }
      pReply->sBody = "{}";
      // The poll after the one that came back.
      if (++iGood == 2) pPollLoop->m_bQuit = true;
      return true;
    };
    m_Unit.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
      return fAnswer(false, pReply);
    });
    m_Forward.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
      return fAnswer(true, pReply);
    });
    FakeClock::SetSleepHook([](int iMs) {
      if (iMs == 2000) FakeClock::Advance(30000);
    });

    std::string sLines = LoopLines(RunOnThread(20000));
    EXPECT_EQ(1u, CountOf(sLines, "******CONNECTION LOST******\n")) << sLines;
    EXPECT_EQ(_Case.sRetry,
              KeepLines(sLines, {"******CONNECTION RETRY"}));
    std::lock_guard<std::mutex> _Lock(_Mutex);
    EXPECT_EQ(2, iGood);
    EXPECT_LE(kPollsDown, iOutagePolls);
    EXPECT_FALSE(m_pPollLoop->m_bGivenUp);
    EXPECT_EQ(_Case.bBackRemotely, m_pEngine->m_bUsingRemote);
    // The way polled now is the way saved.
    EXPECT_EQ(_Case.bBackRemotely ? "1" : "",
              FileExists("arg_usingremote") ? ReadFile("arg_usingremote") : "");
  }
}

// A device command while polling gets no answer makes one attempt instead
// of retrying for a minute, and says why; while the unit answers, the retry
// window is as before. The unit here answers actions with nothing at all.
TEST_F(MainLoopTest, ACommandDuringAnOutageIsSentOnce) {
  StartUnit();
  m_pEngine->m_sIp = kAnsweringIp;
  m_pEngine->m_sMode = "L";
  m_Unit.SetDefault(Body(""));
  for (bool bOutage : {true, false}) {
    SCOPED_TRACE(bOutage ? "during an outage" : "while the unit answers");
    m_pPollLoop->m_bNoAnswer = false;
    if (bOutage) {
      // One failed poll, then the loop is stopped: the unit does not answer.
      m_pPollLoop->m_bQuit = false;
      FakeClock::SetSleepHook([&](int) { m_pPollLoop->m_bQuit = true; });
      RunOnThread();
      FakeClock::SetSleepHook(nullptr);
      ASSERT_TRUE(m_pPollLoop->m_bNoAnswer);
    }
    m_Unit.ClearLog();
    CommandOutcome _Outcome;
    CaptureStdoutOf([&] { _Outcome = m_FrontEnd.RunCommand("1 on"); });
    EXPECT_EQ(-1, _Outcome._Result.iResult);
    size_t iAttempts = 0;
    for (const Sim::LoggedRequest& _Request : m_Unit.Log()) {
      if (_Request.sTarget.find("id=lu_action") != std::string::npos) ++iAttempts;
    }
    if (bOutage) {
      EXPECT_EQ(1u, iAttempts);
      EXPECT_NE(std::string::npos, _Outcome.sError.find("sent once"))
          << _Outcome.sError;
    } else {
      EXPECT_LT(50u, iAttempts);  // once a second for a minute
      EXPECT_EQ(std::string::npos, _Outcome.sError.find("sent once"));
    }
  }
}

}  // namespace
