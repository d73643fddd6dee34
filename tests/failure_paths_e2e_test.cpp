// The whole program on its failure paths, run as a child process in a
// scratch folder on pipes, through the real wget: a refused password
// answered with a local choice, requests that cannot be sent, controller
// answers that are not a success, exit statuses, setting files that cannot
// be written or are not plain files and the wizard's unit list. Controller
// units are loopback servers on 127.0.0.51 (listed by the locator) and
// 127.0.0.52 (stored); nothing listens on 127.0.0.54; the forward server is
// HTTPS on 127.0.0.53:3483.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/sim_server.h"
#include "tests/console_process.h"
#include "tests/test_util.h"
#include "tests/wizard_texts.h"

namespace {

const char kFullData[] = "======================FULLDATA:\n";
const char kSerialPrompt[] =
    "Enter the serial number of the one you want to connect to:";
const char kListed[] =
    "Here are the VERU engines you can connect to:\n"
    "30001 local ip: 127.0.0.51 Home can connect local: Y remote: Y\n";

// A controller unit: a full reply to the first poll, then quiet long polls
// of iQuietMs; device actions answered by sActionReply. Every request is
// logged by the server.
void ServeUnit(Sim::SimServer* pServer, int iQuietMs = 300,
               const std::string& sActionReply =
                   "{\"u:SetTargetResponse\": {\"OK\": \"OK\"}}") {
  pServer->SetHandler([=](const Sim::LoggedRequest& _Request,
                          Sim::Reply* pReply) {
    const std::string& sTarget = _Request.sTarget;
    if (sTarget.find("id=lu_action") != std::string::npos) {
      pReply->sBody = sActionReply;
    } else if (sTarget.find("loadtime=0&") != std::string::npos) {
      pReply->sBody =
          "{\"full\": 1, \"loadtime\": 1700000050, \"dataversion\": 1, "
          "\"state\": 0, \"comment\": \"\", \"devices\": [{\"id\": 5, "
          "\"name\": \"Lamp\", \"room\": 0, \"category\": 2, \"status\": "
          "\"0\"}]}";
    } else {
      pReply->iDelayMs = iQuietMs;
      pReply->sBody =
          "{\"loadtime\": 1700000050, \"dataversion\": 1, \"state\": 0, "
          "\"comment\": \"\"}";
    }
    return true;
  });
}

class FailurePathsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartLocators(
        &_Locator, &_Backup,
        "{\"units\": [{\"serialNumber\": 30001, \"name\": \"Home\", "
        "\"ipAddress\": \"127.0.0.51\", \"active_server\": "
        "\"127.0.0.53:3483\", \"users\": [\"alice\"]}]}"));
  }

  // The setting files of stored unit 30001 behind the forward server.
  void StoreUnit(const std::string& sIp, const std::string& sMode,
                 const std::string& sUsingRemote) {
    StoreUnitSettings(sIp, "127.0.0.53:3483", sMode, sUsingRemote);
  }

  // Types a line and waits for the text it should bring.
  void Answer(const std::string& sLine, const std::string& sExpected) {
    ASSERT_TRUE(_Console.WriteLine(sLine));
    ASSERT_TRUE(_Console.WaitFor(sExpected, 10000))
        << "after \"" << sLine << "\":\n" << _Console.Output();
  }

  ScratchDir _Dir;
  Sim::SimServer _Locator;
  Sim::SimServer _Backup;
  ConsoleProcess _Console;
};

// The forward server refuses the stored password; the user answers the
// prompt with the same unit and local access. From then on the console is
// free again: no further prompt, commands work, quit ends the program, and
// the user name was not overwritten by the lines typed.
TEST_F(FailurePathsTest, RefusedPasswordAnsweredWithLocalAccessFreesTheConsole) {
  ASSERT_TRUE(Sim::MakeSelfSignedCertificate(_Dir.Path()));
  ScopedEnv _Trust("VERU_CA_CERTIFICATE", (_Dir.Path() + "/cert.pem").c_str());
  Sim::SimServer _Forward;
  _Forward.SetDefault({200, "Invalid user/pass", 0, false});
  ASSERT_TRUE(_Forward.Start("127.0.0.53", 3483, _Dir.Path() + "/cert.pem",
                             _Dir.Path() + "/key.pem"));
  Sim::SimServer _Unit;
  ServeUnit(&_Unit);
  ASSERT_TRUE(_Unit.Start("127.0.0.51", 3480));
  StoreUnit("127.0.0.51", "R", "1");
  WriteFile("arg_pass", "wrong");

  ASSERT_TRUE(_Console.Start(VERU_CONSOLE_PATH));
  ASSERT_TRUE(_Console.WaitFor("USER/PASSWORD NEEDED:  PRESS ENTER\n"))
      << _Console.Output();
  Answer("", kNamePrompt);
  Answer("alice", std::string(kListed) + kSerialPrompt);
  Answer("30001", "R for remote only:");
  Answer("L", kFullData);
  Answer("5 off", "\n----COMMAND RESULT: 0 ");
  // Enough polls for a loop that asks again at every poll to show it.
  ASSERT_TRUE(_Unit.WaitForRequests(_Unit.Log().size() + 5, 10000))
      << _Console.Output();
  ASSERT_TRUE(_Console.WriteLine("quit"));
  EXPECT_EQ(0, _Console.WaitForExit()) << _Console.Output();

  std::string sOut = _Console.Output();
  EXPECT_EQ(1u, CountOf(sOut, "USER/PASSWORD NEEDED")) << sOut;
  EXPECT_EQ(1u, _Forward.Log().size());
  EXPECT_EQ(1u, CountOf(sOut, "GET:https://"));
  EXPECT_EQ("alice", ReadFile("arg_username"));
  EXPECT_EQ("L", ReadFile("arg_mode"));
  EXPECT_EQ("0", ReadFile("arg_usingremote"));
}

// A device command that cannot be sent gives -1 at once (the program runs on
// the real clock, where a retry window would take a minute): with no current
// unit, and with an address too long for the request's buffer.
TEST_F(FailurePathsTest, CommandThatCannotBeSentEndsAtOnce) {
  struct Case {
    const char* sName;
    bool bDropUnit;
  };
  const Case kCases[] = {{"no current unit", true},
                         {"address too long", false}};
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    ScratchDir _CaseDir;
    ConsoleProcess _Run;
    // "http://" + 470 characters + ":3480/" still fits, a request after it
    // does not.
    StoreUnit(_Case.bDropUnit ? "127.0.0.54" : std::string(470, 'a'), "L",
              "0");
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    ASSERT_TRUE(_Run.WaitFor("Staring the main loop\n"));
    if (_Case.bDropUnit) {
      _Run.WriteLine("connect");
      ASSERT_TRUE(_Run.WaitFor(kNamePrompt)) << _Run.Output();
      _Run.WriteLine("alice");
      ASSERT_TRUE(_Run.WaitFor(kSerialPrompt)) << _Run.Output();
      _Run.WriteLine("999");
      ASSERT_TRUE(_Run.WaitFor("That is not a valid serial number.  Exiting\n"))
          << _Run.Output();
    }
    _Run.WriteLine("1 on");
    EXPECT_TRUE(_Run.WaitFor("\n----COMMAND RESULT: -1 ", 5000))
        << _Run.Output();
    _Run.WriteLine("quit");
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
    EXPECT_EQ(std::string::npos, _Run.Output().find("id=lu_action"));
  }
}

// What the controller answers to device commands, and the level a dim
// command sends.
TEST_F(FailurePathsTest, CommandResultsAndDimLevels) {
  Sim::SimServer _Unit;
  ServeUnit(&_Unit);
  _Unit.SetHandler([](const Sim::LoggedRequest& _Request, Sim::Reply* pReply) {
    const std::string& sTarget = _Request.sTarget;
    if (sTarget.find("id=lu_action") == std::string::npos) return false;
    const char* sJob = sTarget.find("DeviceNum=11&") != std::string::npos
                           ? "null"
                       : sTarget.find("DeviceNum=12&") != std::string::npos
                           ? "\"abc\""
                       : sTarget.find("DeviceNum=13&") != std::string::npos
                           ? "\"17\""
                           : "4";
    pReply->sBody =
        std::string("{\"u:SetTargetResponse\": {\"JobID\": ") + sJob + "}}";
    return true;
  });
  _Unit.SetDefault({200, "{}", 300, false});
  ASSERT_TRUE(_Unit.Start("127.0.0.52", 3480));
  StoreUnit("127.0.0.52", "L", "0");
  ASSERT_TRUE(_Console.Start(VERU_CONSOLE_PATH));
  ASSERT_TRUE(_Console.WaitFor("Staring the main loop\n"));

  struct Case {
    const char* sLine;
    const char* sResult;    // null: the line is refused, nothing sent
    const char* sArgument;  // the end of the request sent, or the refusal
  };
  const Case kCases[] = {
      {"11 on", "-1", "newTargetValue=1"},
      {"12 on", "-1", "newTargetValue=1"},
      {"13 on", "17", "newTargetValue=1"},
      {"5 dim 20", "4", "newLoadlevelTarget=20"},
      {"5 dim", "4", "newLoadlevelTarget=50"},
      {"5 dim 150", nullptr, "Not a level: 150 (a whole number from 0 to 100; nothing sent)\n"},
      {"5 dim -4", nullptr, "Not a level: -4 (a whole number from 0 to 100; nothing sent)\n"},
      {"5 dim 0", "4", "newLoadlevelTarget=0"},
      {"5 dim 100", "4", "newLoadlevelTarget=100"},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sLine);
    _Unit.ClearLog();
    if (_Case.sResult == nullptr) {
      Answer(_Case.sLine, _Case.sArgument);
      for (const Sim::LoggedRequest& _Request : _Unit.Log()) {
        EXPECT_EQ(std::string::npos, _Request.sTarget.find("id=lu_action"));
      }
      continue;
    }
    Answer(_Case.sLine,
           std::string("\n----COMMAND RESULT: ") + _Case.sResult + " ");
    std::string sAction;
    for (const Sim::LoggedRequest& _Request : _Unit.Log()) {
      if (_Request.sTarget.find("id=lu_action") != std::string::npos) {
        sAction = _Request.sTarget;
      }
    }
    std::string sEnd = std::string("&") + _Case.sArgument;
    ASSERT_GE(sAction.size(), sEnd.size()) << sAction;
    EXPECT_EQ(sEnd, sAction.substr(sAction.size() - sEnd.size()));
  }
  _Console.WriteLine("quit");
  EXPECT_EQ(0, _Console.WaitForExit()) << _Console.Output();
}

// A status reply that is JSON but not an object is a failed poll: counted,
// and no PARTIAL line.
TEST_F(FailurePathsTest, StatusReplyThatIsNotAnObjectIsAFailedPoll) {
  for (const char* sReply : {"[]", "123", "\"text\""}) {
    SCOPED_TRACE(sReply);
    ScratchDir _CaseDir;
    Sim::SimServer _Unit;
    _Unit.SetDefault({200, sReply, 0, false});
    ASSERT_TRUE(_Unit.Start("127.0.0.52", 3480));
    StoreUnit("127.0.0.52", "L", "0");
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    EXPECT_TRUE(_Run.WaitFor("!!!!!!!!!! NO RESPONSE COUNT 1 time 0 !!!!!!!!!\n"))
        << _Run.Output();
    _Run.WriteLine("quit");
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
    EXPECT_EQ(std::string::npos, _Run.Output().find("PARTIAL")) << _Run.Output();
  }
}

// The program's exit status tells a session that ended by the user's wish
// from one that could not start or lost its unit.
TEST_F(FailurePathsTest, ExitStatusTellsFailureFromAnEndByTheUser) {
  {
    SCOPED_TRACE("no engine to connect to");
    _Locator.SetDefault({200, "", 0, false});
    _Backup.SetDefault({200, "", 0, false});
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    ASSERT_TRUE(_Run.WaitFor(kNamePrompt));
    _Run.WriteLine("alice");
    EXPECT_TRUE(_Run.WaitFor("No engine to connect to\n")) << _Run.Output();
    EXPECT_EQ(1, _Run.WaitForExit()) << _Run.Output();
  }
  {
    SCOPED_TRACE("connection lost");
    // Nothing answers the unit, and the locator knows nothing new: on the
    // test clock the minute of failures passes at once.
    ScratchDir _CaseDir;
    StoreUnit("127.0.0.54", "L", "0");
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_TESTCLOCK_PATH));
    EXPECT_TRUE(_Run.WaitFor("Unable to connect.\n******CONNECTION LOST******\n",
                             30000))
        << _Run.Output();
    _Run.CloseInput();
    EXPECT_EQ(1, _Run.WaitForExit()) << _Run.Output();
  }
  {
    SCOPED_TRACE("quit after a working session");
    ScratchDir _CaseDir;
    Sim::SimServer _Unit;
    ServeUnit(&_Unit);
    ASSERT_TRUE(_Unit.Start("127.0.0.52", 3480));
    StoreUnit("127.0.0.52", "L", "0");
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    ASSERT_TRUE(_Run.WaitFor(kFullData)) << _Run.Output();
    _Run.CloseInput();
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
  }
}

// The settings of a unit typed in by address cannot be saved: the folder is
// a full disk (a 64 KiB tmpfs filled to the brim), or it is read-only. The
// program says so on standard error, and the old set stays whole, with no
// temporary file left. The program runs in a mount namespace of its own,
// which needs the right to mount; without it the test is skipped.
TEST_F(FailurePathsTest, SaveThatCannotBeWrittenKeepsTheOldSetAndSaysWhy) {
  struct Case {
    const char* sName;
    const char* sSpoil;  // shell commands run in the folder before the program
    const char* sReason;
  };
  const Case kCases[] = {
      {"full disk", "cat /dev/zero > filler 2>/dev/null; true",
       "No space left on device"},
      {"read-only folder", "mount -o remount,ro \"$PWD\" || exit 78",
       "Read-only file system"},
  };
  const std::vector<std::pair<std::string, std::string>> vecOld = {
      {"arg_serialnumber", "30001"}, {"arg_username", "alice"},
      {"arg_ip", "127.0.0.54"},      {"arg_fwd_active", "127.0.0.53:3483"},
      {"arg_firmware", "1.5.408"},   {"arg_mode", "L"},
      {"arg_usingremote", "0"},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    ScratchDir _CaseDir;
    ASSERT_EQ(0, mkdir("seed", 0755));
    ASSERT_EQ(0, mkdir("disk", 0755));
    ASSERT_EQ(0, mkdir("after", 0755));
    for (const auto& setting : vecOld) {
      WriteFile("seed/" + setting.first, setting.second);
    }
    WriteFile("run.sh",
              std::string("#!/bin/sh\n"
                          "cd \"$(dirname \"$0\")\"\n"
                          "exec unshare -m sh -c '\n"
                          "mount --make-rprivate / 2>/dev/null || exit 77\n"
                          "mount -t tmpfs -o size=64k veru-disk disk "
                          "2>/dev/null || exit 77\n"
                          "cp seed/* disk/ && cd disk || exit 78\n") +
                  _Case.sSpoil + "\n" + VERU_CONSOLE_PATH +
                  "\n"
                  "status=$?\n"
                  "cp arg_* ../after/\n"
                  "ls -A > ../after.list\n"
                  "exit $status'\n");
    ASSERT_EQ(0, chmod("run.sh", 0755));
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(_CaseDir.Path() + "/run.sh"));
    int iStatus = -1;
    if (!_Run.WaitFor("Staring the main loop\n", 10000)) {
      iStatus = _Run.WaitForExit(5000);
      if (iStatus == 77) GTEST_SKIP() << "no right to mount a tmpfs here";
      FAIL() << "exit status " << iStatus << ":\n" << _Run.Output();
    }
    _Run.WriteLine("connect");
    ASSERT_TRUE(_Run.WaitFor(kNamePrompt)) << _Run.Output();
    _Run.WriteLine("127.0.0.55");
    EXPECT_TRUE(_Run.WaitFor(std::string("Could not save the setting file "
                                         "arg_serialnumber: ") +
                             _Case.sReason + "\n"))
        << _Run.Output();
    _Run.WriteLine("quit");
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
    EXPECT_EQ(1u, CountOf(_Run.Output(), "Could not save")) << _Run.Output();
    for (const auto& setting : vecOld) {
      EXPECT_EQ(setting.second, ReadFile("after/" + setting.first))
          << setting.first;
    }
    EXPECT_EQ(std::string::npos, ReadFile("after.list").find(".tmp."))
        << ReadFile("after.list");
  }
}

// Setting files that are not plain files: a FIFO is read as absent (the
// start does not wait for a writer), a symbolic link is written through
// (the link stays), and temporary setting files left by a save that was
// killed are removed at start, while other files stay.
TEST_F(FailurePathsTest, SettingFilesThatAreNotPlainFiles) {
  {
    SCOPED_TRACE("FIFO");
    ScratchDir _CaseDir;
    StoreUnit("127.0.0.54", "L", "0");
    ASSERT_EQ(0, unlink("arg_ip"));
    ASSERT_EQ(0, mkfifo("arg_ip", 0644));
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    EXPECT_TRUE(_Run.WaitFor("Staring the main loop\n", 5000))
        << _Run.Output();
    EXPECT_TRUE(_Run.WaitFor("GET:http://:3480/")) << _Run.Output();
    _Run.WriteLine("quit");
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
  }
  {
    SCOPED_TRACE("leftover temporary files");
    ScratchDir _CaseDir;
    pid_t iGone = fork();
    if (iGone == 0) _exit(0);
    ASSERT_GT(iGone, 0);
    waitpid(iGone, nullptr, 0);
    const std::string sGone = std::to_string(iGone);
    const std::string sMine = std::to_string(getpid());
    WriteFile("arg_ip.tmp." + sGone + ".0", "10.0.0");
    WriteFile("arg_pass.tmp." + sGone + ".12", "sec");
    WriteFile("arg_mode.tmp." + sMine + ".3", "L");  // its writer still runs
    WriteFile("arg_ip.tmp.notes", "mine");
    WriteFile("notes.tmp." + sGone + ".0", "mine");
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    ASSERT_TRUE(_Run.WaitFor(kNamePrompt)) << _Run.Output();
    EXPECT_FALSE(FileExists("arg_ip.tmp." + sGone + ".0"));
    EXPECT_FALSE(FileExists("arg_pass.tmp." + sGone + ".12"));
    EXPECT_TRUE(FileExists("arg_mode.tmp." + sMine + ".3"));
    EXPECT_TRUE(FileExists("arg_ip.tmp.notes"));
    EXPECT_TRUE(FileExists("notes.tmp." + sGone + ".0"));
    _Run.CloseInput();
    EXPECT_EQ(1, _Run.WaitForExit()) << _Run.Output();
  }
  {
    SCOPED_TRACE("symbolic links");
    ScratchDir _CaseDir;
    ASSERT_EQ(0, mkdir("kept", 0755));
    WriteFile("kept/mode", "A");
    ASSERT_EQ(0, symlink("kept/mode", "arg_mode"));
    ASSERT_EQ(0, symlink("kept/ip", "arg_ip"));  // leads nowhere yet
    ConsoleProcess _Run;
    ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
    ASSERT_TRUE(_Run.WaitFor(kNamePrompt)) << _Run.Output();
    _Run.WriteLine("127.0.0.54");
    ASSERT_TRUE(_Run.WaitFor("Staring the main loop\n")) << _Run.Output();
    _Run.WriteLine("quit");
    EXPECT_EQ(0, _Run.WaitForExit()) << _Run.Output();
    struct stat _Stat;
    ASSERT_EQ(0, lstat("arg_mode", &_Stat));
    EXPECT_TRUE(S_ISLNK(_Stat.st_mode));
    ASSERT_EQ(0, lstat("arg_ip", &_Stat));
    EXPECT_TRUE(S_ISLNK(_Stat.st_mode));
    EXPECT_EQ("L", ReadFile("kept/mode"));
    EXPECT_EQ("127.0.0.54", ReadFile("kept/ip"));
    EXPECT_EQ("0", ReadFile("arg_serialnumber"));
  }
}

// The wizard lists only units that can be chosen: the unit reached by a
// typed address, kept under serial number 0, is not among them.
TEST_F(FailurePathsTest, WizardListsOnlyUnitsThatCanBeChosen) {
  Sim::SimServer _Unit;
  ServeUnit(&_Unit);
  ASSERT_TRUE(_Unit.Start("127.0.0.52", 3480));
  ASSERT_TRUE(_Console.Start(VERU_CONSOLE_PATH));
  ASSERT_TRUE(_Console.WaitFor(kNamePrompt));
  Answer("127.0.0.52", kFullData);
  Answer("connect", kNamePrompt);
  Answer("alice", kSerialPrompt);
  std::string sOut = _Console.Output();
  size_t iList = sOut.rfind("Here are the VERU engines");
  ASSERT_NE(std::string::npos, iList) << sOut;
  EXPECT_EQ(std::string(kListed) + kSerialPrompt, sOut.substr(iList));
  _Console.WriteLine("0");
  _Console.WriteLine("quit");
  EXPECT_EQ(0, _Console.WaitForExit()) << _Console.Output();
}

}  // namespace
