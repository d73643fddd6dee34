// The connection wizard and the password prompt, driven through m_pInput:
// by typed address, by user name through the locator (loopback servers at
// the compiled-in locator addresses), the mode question, the password and
// its save question, invalid choices, and end of input at every question.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/setup/settings.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/front_end_fixture.h"
#include "tests/test_util.h"
#include "tests/wizard_texts.h"

namespace {

const char kSerialPrompt[] =
    "Enter the serial number of the one you want to connect to:";
const char kModePrompt[] =
    "You can connect locally or remote.\nEnter A for automatic "
    "(recommended),\nL for local only,\nR for remote only:";
const char kInvalid[] = "That is not a valid serial number.  Exiting\n";

// 30001 can be reached both ways, 30002 only remotely, 30003 only locally
// (for the user alice).
const char kUnits[] =
    "{\"units\": ["
    "{\"serialNumber\": 30001, \"name\": \"Home\", \"FirmwareVersion\": "
    "\"1.5.408\", \"ipAddress\": \"127.0.0.41\", \"active_server\": "
    "\"127.0.0.42\", \"users\": [\"alice\"], \"forwardServers\": "
    "[{\"hostName\": \"127.0.0.42\", \"primary\": 1}, {\"hostName\": "
    "\"127.0.0.43\", \"primary\": 0}]},"
    "{\"serialNumber\": \"30002\", \"name\": \"Cabin\", \"ipAddress\": \"\", "
    "\"active_server\": \"127.0.0.42\", \"users\": [\"alice\"]},"
    "{\"serialNumber\": 30003, \"name\": \"Shed\", \"ipAddress\": "
    "\"127.0.0.44\", \"users\": []}"
    "]}";
const char kListing[] =
    "Here are the VERU engines you can connect to:\n"
    "30001 local ip: 127.0.0.41 Home can connect local: Y remote: Y\n"
    "30002 local ip:  Cabin can connect local: N remote: Y\n"
    "30003 local ip: 127.0.0.44 Shed can connect local: Y remote: N\n";


class WizardTest : public testing::Test {
 protected:
  void SetUp() override {
    FakeClock::Reset(1700000000);
    ASSERT_TRUE(StartLocators(&_Locator, &_Backup, kUnits));
    _Backup.SetDefault({200, "not a document", 0, false});
  }

  // Runs the wizard over sInput; returns what it printed.
  std::string Wizard(const std::string& sUser, const std::string& sInput) {
    _Test.SetInput(sInput);
    CapturedOutput _Capture;
    _Test._FrontEnd.ConnectWizard(sUser);
    return _Capture.Text();
  }

  Veru::Engine* Current() { return _Test._FrontEnd.CurrentEngine(); }
  bool Suspended() { return _Test.PollLoop()->m_bSuspended.load(); }

  std::string LocatorTargets() {
    std::string sTargets;
    for (const Sim::LoggedRequest& _Request : _Locator.Log()) {
      sTargets += _Request.sTarget + "\n";
    }
    return sTargets;
  }

  ScratchDir _Dir;
  Sim::SimServer _Locator;
  Sim::SimServer _Backup;
  TestFrontEnd _Test;
};

TEST_F(WizardTest, TypedAddressMakesALocalOnlyUnitWithoutTheLocator) {
  _Test.PollLoop()->m_bSuspended = false;
  std::string sOutput = Wizard("", "127.0.0.45\n");
  EXPECT_EQ(std::string(kIntroduction) + kNamePrompt, sOutput);
  EXPECT_EQ("", LocatorTargets());
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ(0, Current()->m_iSerialNumber);
  EXPECT_EQ("127.0.0.45", Current()->m_sIp);
  EXPECT_TRUE(Current()->m_bLocalAvailable);
  EXPECT_FALSE(Current()->m_bRemoteAvailable);
  EXPECT_EQ("L", Current()->m_sMode);
  EXPECT_FALSE(Current()->m_bUsingRemote);
  EXPECT_FALSE(Suspended());
  EXPECT_TRUE(_Test.PollLoop()->m_mapEngine.empty());
  EXPECT_EQ("0", ReadFile("arg_serialnumber"));
  EXPECT_EQ("127.0.0.45", ReadFile("arg_ip"));
  EXPECT_EQ("L", ReadFile("arg_mode"));
  EXPECT_EQ("0", ReadFile("arg_usingremote"));
  EXPECT_TRUE(FileExists("arg_username"));
  EXPECT_EQ("", ReadFile("arg_username"));
  EXPECT_FALSE(FileExists("arg_pass"));
}

TEST_F(WizardTest, OnlyThreeDotsAndALeadingNumberMakeAnAddress) {
  _Locator.SetDefault({200, "not a document", 0, false});
  struct Case {
    const char* cTyped;
    bool bAddress;
  };
  const Case cases[] = {
      {"10.1.2.3", true},   {"1.2.3.4.5", true},  {"7...", true},
      {"0.1.2.3", false},   {"1.2.3", false},     {"a.b.c.d", false},
      {"bob", false},       {"", false},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cTyped);
    _Test.DropUnit();
    _Locator.ClearLog();
    unlink("arg_username");
    std::string sOutput = Wizard("", std::string(_Case.cTyped) + "\n");
    if (_Case.bAddress) {
      EXPECT_EQ("", LocatorTargets());
      ASSERT_NE(nullptr, Current());
      EXPECT_EQ(_Case.cTyped, Current()->m_sIp);
    } else {
      // A user name is stored at once; a failing locator ends the wizard
      // silently with no unit.
      std::string sQuery = *_Case.cTyped == '\0'
                               ? ""
                               : std::string("?username=") + _Case.cTyped;
      EXPECT_EQ("/locator_json.php" + sQuery + "\n", LocatorTargets());
      EXPECT_EQ(_Case.cTyped, ReadFile("arg_username"));
      EXPECT_EQ(nullptr, Current());
      EXPECT_EQ(std::string::npos, sOutput.find("Here are"));
    }
    EXPECT_FALSE(Suspended());
  }
}

TEST_F(WizardTest, FullDialogueByUserNameForAUnitReachableBothWays) {
  std::string sOutput = Wizard("", "alice\n30001\n\n");
  EXPECT_EQ(std::string(kIntroduction) + kNamePrompt +
                "GET:http://" VERU_LOCATOR_MAIN
                "/locator_json.php?username=alice got: " +
                std::to_string(strlen(kUnits)) + " bytes\n" + kListing +
                kSerialPrompt + "\n" + kModePrompt + "\n",
            sOutput);
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ(30001, Current()->m_iSerialNumber);
  EXPECT_TRUE(_Test.InUnitList(Current()));
  EXPECT_EQ("A", Current()->m_sMode);
  EXPECT_FALSE(Current()->m_bUsingRemote);
  EXPECT_FALSE(Suspended());
  EXPECT_EQ("30001", ReadFile("arg_serialnumber"));
  EXPECT_EQ("alice", ReadFile("arg_username"));
  EXPECT_EQ("127.0.0.41", ReadFile("arg_ip"));
  EXPECT_EQ("127.0.0.42", ReadFile("arg_fwd_main"));
  EXPECT_EQ("127.0.0.43", ReadFile("arg_fwd_back"));
  EXPECT_EQ("127.0.0.42", ReadFile("arg_fwd_active"));
  EXPECT_EQ("1.5.408", ReadFile("arg_firmware"));
  EXPECT_EQ("A", ReadFile("arg_mode"));
  EXPECT_EQ("0", ReadFile("arg_usingremote"));
  EXPECT_FALSE(FileExists("arg_pass"));
}

TEST_F(WizardTest, ModeAnswers) {
  struct Case {
    const char* cAnswer;
    const char* cMode;
    bool bRemote;
  };
  const Case cases[] = {
      {"", "A", false},  {"A", "A", false},   {"x", "A", false},
      {"l", "L", false}, {"Local", "L", false}, {"r", "R", true},
      {"R", "R", true},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cAnswer);
    unlink("arg_pass");
    std::string sOutput =
        Wizard("", std::string("alice\n30001\n") + _Case.cAnswer + "\npw\n\n");
    ASSERT_NE(nullptr, Current());
    EXPECT_EQ(_Case.cMode, Current()->m_sMode);
    EXPECT_EQ(_Case.bRemote, Current()->m_bUsingRemote);
    EXPECT_EQ(_Case.cMode, ReadFile("arg_mode"));
    EXPECT_EQ(_Case.bRemote ? "1" : "0", ReadFile("arg_usingremote"));
    bool bAsked = sOutput.find("What is your verunet password?") !=
                  std::string::npos;
    EXPECT_EQ(_Case.bRemote, bAsked);
    EXPECT_EQ(_Case.bRemote, FileExists("arg_pass"));
    if (_Case.bRemote) {
      EXPECT_EQ("pw", Current()->m_sPassword);
      EXPECT_EQ("pw", ReadFile("arg_pass"));
    }
  }
}

TEST_F(WizardTest, OneWayOnlyLeavesTheModeAndAsksThePasswordForRemote) {
  WriteFile("arg_pass", "old");
  // Remote only: the password prompt; "n" keeps the old file.
  std::string sOutput = Wizard("", "alice\n30002\nnew\nn\n");
  EXPECT_NE(std::string::npos,
            sOutput.find(std::string(kSerialPrompt) +
                         "\nConnecting remote with verunet user: alice\n"
                         "What is your verunet password?\n"
                         "Do you want to save this password? [Y/n]"));
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ(30002, Current()->m_iSerialNumber);
  EXPECT_EQ("", Current()->m_sMode);
  EXPECT_TRUE(Current()->m_bUsingRemote);
  EXPECT_EQ("new", Current()->m_sPassword);
  EXPECT_EQ("old", ReadFile("arg_pass"));
  EXPECT_EQ("1", ReadFile("arg_usingremote"));

  // Local only: no password prompt.
  sOutput = Wizard("", "alice\n30003\n");
  EXPECT_TRUE(EndsWith(sOutput, std::string(kSerialPrompt) +
                                    "\nConnecting locally on IP: 127.0.0.44\n"))
      << sOutput;
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ(30003, Current()->m_iSerialNumber);
  EXPECT_FALSE(Current()->m_bUsingRemote);
  EXPECT_EQ("30003", ReadFile("arg_serialnumber"));
  EXPECT_EQ("old", ReadFile("arg_pass"));
}

TEST_F(WizardTest, StoredUserNameIsOfferedFirst) {
  // Kept: no name question, the locator is asked with it and arg_username
  // is not written by the question.
  std::string sOutput = Wizard("alice", "\n30003\n");
  EXPECT_EQ(0u, sOutput.find(std::string(kIntroduction) +
                             "Is your verunet username alice [Y/n]:\nGET:"));
  EXPECT_EQ(std::string::npos, sOutput.find(kNamePrompt));
  EXPECT_EQ("/locator_json.php?username=alice\n", LocatorTargets());
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ("alice", Current()->m_sUsername);

  // Refused: the name is asked for and stored.
  _Locator.ClearLog();
  sOutput = Wizard("alice", "N\nbob\n30003\n");
  EXPECT_EQ(0u, sOutput.find(std::string(kIntroduction) +
                             "Is your verunet username alice [Y/n]:\n" +
                             kNamePrompt + "GET:"));
  EXPECT_EQ("/locator_json.php?username=bob\n", LocatorTargets());
  EXPECT_EQ("bob", ReadFile("arg_username"));
}

TEST_F(WizardTest, InvalidSerialNumberLeavesNoUnit) {
  const char* cAnswers[] = {"abc", "0", "99999", ""};
  for (const char* cAnswer : cAnswers) {
    SCOPED_TRACE(cAnswer);
    _Test.SetLocalUnit("127.0.0.46");
    std::string sOutput = Wizard("", std::string("alice\n") + cAnswer + "\n");
    EXPECT_TRUE(EndsWith(sOutput, std::string(kSerialPrompt) + "\n" + kInvalid))
        << sOutput;
    EXPECT_EQ(nullptr, Current());
    EXPECT_FALSE(Suspended());
  }
}

TEST_F(WizardTest, EmptyUnitListOffersNothing) {
  _Locator.SetDefault({200, "{\"units\": []}", 0, false});
  std::string sOutput = Wizard("", "\n30001\n");
  EXPECT_NE(std::string::npos,
            sOutput.find(std::string(
                             "Here are the VERU engines you can connect to:\n") +
                         kSerialPrompt + "\n" + kInvalid));
  EXPECT_EQ("/locator_json.php\n", LocatorTargets());
  EXPECT_EQ(nullptr, Current());
}

TEST_F(WizardTest, LocatorFailureEndsSilentlyWithTheUnitAsItWas) {
  _Locator.SetDefault({200, "null", 0, false});
  Veru::Engine* pBefore = _Test.SetLocalUnit("127.0.0.46");
  _Test.PollLoop()->m_bSuspended = false;
  std::string sOutput = Wizard("", "alice\n30001\n");
  EXPECT_EQ(std::string::npos, sOutput.find("Here are"));
  EXPECT_EQ(pBefore, Current());
  EXPECT_FALSE(Suspended());
  EXPECT_EQ("30001\n", _Test.RestOfInput());
  ASSERT_EQ(1u, _Backup.Log().size());
}

// The wizard pauses polling while it asks, then leaves it as it found it:
// polling the user had suspended stays suspended, whichever way the wizard
// ends.
TEST_F(WizardTest, LeavesPollingPausedOrRunningAsItFoundIt) {
  struct Case {
    const char* cName;
    const char* cInput;
  };
  const Case cases[] = {
      {"typed address", "127.0.0.45\n"},
      {"unit through the locator", "alice\n30001\nL\n"},
      {"invalid serial number", "alice\n4\n"},
      {"end of input", ""},
  };
  for (const Case& _Case : cases) {
    for (bool bSuspended : {false, true}) {
      SCOPED_TRACE(std::string(_Case.cName) +
                   (bSuspended ? ", suspended" : ", polling"));
      _Test.SetLocalUnit("127.0.0.46");
      _Test.PollLoop()->m_bSuspended = bSuspended;
      Wizard("", _Case.cInput);
      EXPECT_EQ(bSuspended, Suspended());
    }
  }
}

// End of input at any question ends the dialogue: no new unit, no new
// password, polling going on again, and no further question asked.
TEST_F(WizardTest, EndOfInputAtEveryQuestion) {
  struct Case {
    const char* cName;
    const char* cUser;
    const char* cInput;
    const char* cOutputEnd;
  };
  const Case cases[] = {
      {"user name confirmation", "alice", "", "[Y/n]:\n"},
      {"user name", "", "", "one or an IP):\n"},
      {"serial number", "", "alice\n", "connect to:\n"},
      {"mode", "", "alice\n30001\n", "R for remote only:\n"},
      {"password", "", "alice\n30002\n", "verunet password?\n"},
      {"save question", "", "alice\n30002\nnew\n", "password? [Y/n]\n"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cName);
    Veru::Engine* pBefore = _Test.SetLocalUnit("127.0.0.46");
    pBefore->m_sPassword = "old";
    _Test.PollLoop()->m_bSuspended = false;
    std::string sOutput = Wizard(_Case.cUser, _Case.cInput);
    EXPECT_TRUE(EndsWith(sOutput, _Case.cOutputEnd)) << sOutput;
    EXPECT_EQ(pBefore, Current());
    EXPECT_EQ("old", Current()->m_sPassword);
    EXPECT_FALSE(Current()->m_bUsingRemote);
    EXPECT_FALSE(Suspended());
    EXPECT_FALSE(FileExists("arg_pass"));
    EXPECT_FALSE(FileExists("arg_serialnumber"));
  }
}

// The poll thread reads the current unit at any moment: it must never see a
// unit that is current but not yet set up (mode, access and password for a
// listed unit; address and mode for a typed address). Under ThreadSanitizer
// a field written outside the lock after publication is reported as well.
// Another unit is asked for everything: the last unit's load time and data
// version mean nothing to it. The same unit chosen again goes on from them.
TEST_F(WizardTest, AnotherUnitStartsFromLoadTimeAndDataVersionZero) {
  Wizard("", "alice\n30003\n");
  ASSERT_NE(nullptr, Current());
  Veru::PollLoop* pLoop = _Test.PollLoop();
  pLoop->m_iLoadTime = 1700000000;
  pLoop->m_iDataVersion = 77;
  Wizard("", "alice\n30003\n");
  EXPECT_EQ(1700000000, pLoop->m_iLoadTime);
  EXPECT_EQ(77, pLoop->m_iDataVersion);
  Wizard("", "alice\n30001\nL\n");
  EXPECT_EQ(30001, Current()->m_iSerialNumber);
  EXPECT_EQ(0, pLoop->m_iLoadTime);
  EXPECT_EQ(0, pLoop->m_iDataVersion);
}

TEST_F(WizardTest, UnitIsCompleteWhenItBecomesCurrent) {
  std::atomic<bool> bDone{false};
  std::atomic<int> iHalfSet{0};
  ScopedThread _Poller([&] {
    while (!bDone) {
      Veru::Engine _Engine;
      if (!_Test.PollLoop()->CopyEngine(&_Engine)) continue;
      bool bListed = _Engine.m_iSerialNumber == 30001 &&
                     _Engine.m_sMode == "R" && _Engine.m_bUsingRemote &&
                     _Engine.m_sPassword == "pw";
      bool bTyped = _Engine.m_iSerialNumber == 0 &&
                    _Engine.m_sIp == "127.0.0.45" && _Engine.m_sMode == "L";
      if (!bListed && !bTyped) ++iHalfSet;
    }
  }, [&] { bDone = true; });
  Wizard("", "alice\n30001\nR\npw\n\n");
  ASSERT_NE(nullptr, Current());
  EXPECT_EQ(30001, Current()->m_iSerialNumber);
  Wizard("", "127.0.0.45\n");
  bDone = true;
  _Poller.Join();
  EXPECT_EQ(0, iHalfSet.load());
}

TEST(AskPassword, StoresThePasswordAndClearsTheRefusal) {
  ScratchDir _Dir;
  TestFrontEnd _Test;
  Veru::Engine* pEngine = _Test.SetLocalUnit("127.0.0.46");
  pEngine->m_bUsingRemote = true;
  pEngine->m_bInvalidUserPass = true;
  struct Case {
    const char* cSave;
    bool bSaved;
  };
  const Case cases[] = {{"", true},   {"y", true},   {"yes", true},
                        {"no", false}, {"N", false}, {"nope", false}};
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cSave);
    unlink("arg_pass");
    _Test.SetInput(std::string("p w\n") + _Case.cSave + "\n");
    CapturedOutput _Capture;
    _Test._FrontEnd.AskPassword();
    EXPECT_EQ(
        "What is your verunet password?\nDo you want to save this password? "
        "[Y/n]",
        _Capture.Text());
    EXPECT_EQ("p w", pEngine->m_sPassword);
    EXPECT_FALSE(pEngine->m_bInvalidUserPass);
    EXPECT_EQ(_Case.bSaved, FileExists("arg_pass"));
    EXPECT_EQ("1", ReadFile("arg_usingremote"));
  }
}

// On a terminal the password is not echoed, and the terminal's echo is
// back on afterwards.
TEST(AskPassword, TerminalDoesNotEchoThePassword) {
  ScratchDir _Dir;
  int iMaster = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(iMaster, 0);
  ASSERT_EQ(0, grantpt(iMaster));
  ASSERT_EQ(0, unlockpt(iMaster));
  FILE* pTerminal = fopen(ptsname(iMaster), "r");
  ASSERT_NE(nullptr, pTerminal);
  int iTerminal = fileno(pTerminal);

  TestFrontEnd _Test;
  _Test.SetLocalUnit("127.0.0.46")->m_bUsingRemote = true;
  _Test._FrontEnd.SetInput(pTerminal);
  CapturedOutput _Capture;
  // A failed ASSERT below ends the prompt by ending its input.
  ScopedThread _Prompt([&] { _Test._FrontEnd.AskPassword(); },
                       [&] { (void)!write(iMaster, "\n\n", 2); });

  auto EchoOn = [&] {
    struct termios _Settings;
    tcgetattr(iTerminal, &_Settings);
    return (_Settings.c_lflag & ECHO) != 0;
  };
  ASSERT_TRUE(WaitUntil([&] { return !EchoOn(); }, 5000));
  ASSERT_EQ(9, write(iMaster, "hush-123\n", 9));
  ASSERT_TRUE(WaitUntil(EchoOn, 5000));
  ASSERT_EQ(2, write(iMaster, "y\n", 2));
  _Prompt.Join();
  _Capture.Text();

  // What the terminal showed: the answer to the save question only.
  std::string sShown;
  char cBuffer[256];
  struct pollfd _Poll = {iMaster, POLLIN, 0};
  while (poll(&_Poll, 1, 100) > 0) {
    ssize_t iLength = read(iMaster, cBuffer, sizeof(cBuffer));
    if (iLength <= 0) break;
    sShown.append(cBuffer, static_cast<size_t>(iLength));
  }
  EXPECT_EQ(std::string::npos, sShown.find("hush")) << sShown;
  EXPECT_NE(std::string::npos, sShown.find("y")) << sShown;
  EXPECT_EQ("hush-123",
            _Test._FrontEnd.CurrentEngine()->m_sPassword);
  EXPECT_EQ("hush-123", ReadFile("arg_pass"));
  fclose(pTerminal);
  _Test._FrontEnd.SetInput(stdin);
  close(iMaster);
}

}  // namespace
