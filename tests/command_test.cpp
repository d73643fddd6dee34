// Command lines: what HandleCommand does with each line, and how the command
// loop routes lines (quit, credentials prompts, end of input, long lines).
// The controller is a loopback server on 127.0.0.41:3480.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/front_end_fixture.h"
#include "tests/test_util.h"

namespace {

const char kOnPath[] =
    "/data_request?id=lu_action&DeviceNum=5&serviceId=urn:upnp-org:serviceId:"
    "SwitchPower1&action=SetTarget&output_format=json&newTargetValue=1";

// The result line of a line that sends nothing.
std::string sNothingLine() { return "\n----COMMAND RESULT: -2 "; }

class CommandTest : public testing::Test {
 protected:
  void SetUp() override {
    FakeClock::Reset(1700000000);
    ASSERT_TRUE(_Server.Start("127.0.0.41", 3480));
    _Server.SetDefault({200, "{\"u:Response\": {\"OK\": \"OK\"}}", 0, false});
    _Test.SetLocalUnit("127.0.0.41");
  }

  // Runs one line through HandleCommand; returns what it printed.
  std::string Handle(const std::string& sLine) {
    CapturedOutput _Capture;
    _Test._FrontEnd.HandleCommand(sLine.c_str());
    return _Capture.Text();
  }

  // Runs the command loop over sInput (the poll thread counted as running).
  std::string Loop(const std::string& sInput) {
    _Test.SetInput(sInput);
    _Test.PollLoop()->m_bRunning = true;
    CapturedOutput _Capture;
    _Test._FrontEnd.CommandLoop();
    return _Capture.Text();
  }

  std::vector<std::string> Targets() {
    std::vector<std::string> vecTargets;
    for (const Sim::LoggedRequest& _Request : _Server.Log()) {
      vecTargets.push_back(_Request.sTarget);
    }
    return vecTargets;
  }

  ScratchDir _Dir;
  Sim::SimServer _Server;
  TestFrontEnd _Test;
};

TEST_F(CommandTest, EachLineDoesWhatTheTableSays) {
  struct Case {
    const char* cLine;
    bool bSuspendedBefore;
    bool bSuspendedAfter;
    std::string sTarget;  // the one request sent, or empty for none
    std::string sOutputEnd;  // the whole output when nothing is sent
  };
  const std::string sOff =
      "/data_request?id=lu_action&DeviceNum=5&serviceId=urn:upnp-org:"
      "serviceId:SwitchPower1&action=SetTarget&output_format=json&"
      "newTargetValue=0";
  const std::string sDim =
      "/data_request?id=lu_action&DeviceNum=5&serviceId=urn:upnp-org:"
      "serviceId:Dimming1&action=SetLoadLevelTarget&output_format=json&"
      "newLoadlevelTarget=50";
  const std::string sPoll =
      "/data_request?id=lu_action&DeviceNum=5&serviceId=urn:lumenhollow-com:"
      "serviceId:HaDevice1&action=Poll&output_format=json";
  const std::string sDone = "\n----COMMAND RESULT: 0 ";
  const std::string sNothing = "\n----COMMAND RESULT: -2 ";
  const Case cases[] = {
      {"5 on", false, false, kOnPath, sDone},
      {"5on", false, false, kOnPath, sDone},
      {"5 dimension", false, false, kOnPath, sDone},
      {"5 off", false, false, sOff, sDone},
      {"5 dim", false, false, sDim, sDone},
      {"5 poll", false, false, sPoll, sDone},
      {"0 on", false, false, "", ""},
      {"on", false, false, "", ""},
      {"x5 on", false, false, "", ""},
      {" quit", false, false, "", ""},
      {"7", false, false, "", sNothing},
      {"7 blink", false, false, "", sNothing},
      {"7 suspend", false, true, "", ""},
      {"suspend", false, true, "", ""},
      {"resume", true, false, "", ""},
      {"5 on resume", true, false, "", ""},
      {"5 ON", false, false, "", sNothing},
      {"5 image",
       false,
       false,
       "",
       "\n---URL for camera image: http://127.0.0.41:3480/data_request?id="
       "cam_image&Device_Num=5&time=1700000000\n\n----COMMAND RESULT: -2 "},
      {"5 stream", false, false, "",
       "\n---URL type: bad_device for camera stream: \n\n----COMMAND RESULT: "
       "-2 "},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    _Server.ClearLog();
    _Test.PollLoop()->m_bSuspended = _Case.bSuspendedBefore;
    std::string sOutput = Handle(_Case.cLine);
    EXPECT_EQ(_Case.bSuspendedAfter, _Test.PollLoop()->m_bSuspended.load());
    if (_Case.sTarget.empty()) {
      EXPECT_TRUE(Targets().empty());
      EXPECT_EQ(_Case.sOutputEnd, sOutput);
    } else {
      EXPECT_EQ(std::vector<std::string>{_Case.sTarget}, Targets());
      EXPECT_TRUE(EndsWith(sOutput, _Case.sOutputEnd)) << sOutput;
    }
  }
}

TEST_F(CommandTest, ResultLineShowsJobNumberAndControllerError) {
  struct Case {
    const char* cName;
    std::string sReply;
    std::string sOutputEnd;
  };
  const Case cases[] = {
      {"job", "{\"u:SetTargetResponse\": {\"JobID\": \"42\"}}",
       "\n----COMMAND RESULT: 42 "},
      {"error", "ERROR: No such device",
       "\n----COMMAND RESULT: -1  No such device"},
      // The controller's line end ends the result line; a control byte
      // inside the text stays escaped.
      {"error with its line end", "ERROR: Device not found\n",
       "\n----COMMAND RESULT: -1  Device not found\n"},
      {"error with CR LF", "ERROR: Device not found\r\n",
       "\n----COMMAND RESULT: -1  Device not found\n"},
      {"error with a line end inside", "ERROR: not\nfound\x07\n\n",
       "\n----COMMAND RESULT: -1  not\\nfound\\x07\n\n"},
      {"no deciding response", "{\"u:SetTargetResponse\": {}}",
       "\n----COMMAND RESULT: -1 "},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cName);
    _Server.Queue({200, _Case.sReply, 0, false});
    std::string sOutput = Handle("5 on");
    EXPECT_TRUE(EndsWith(sOutput, _Case.sOutputEnd)) << sOutput;
  }
}

TEST_F(CommandTest, QuitEndsTheLoopOnlyAsAWholeLine) {
  std::string sOutput = Loop(" quit\nquit now\n7\nquit\n5 on\n");
  EXPECT_EQ(sNothingLine(), sOutput);
  EXPECT_TRUE(Targets().empty());
  EXPECT_EQ("5 on\n", _Test.RestOfInput());
}

TEST_F(CommandTest, EndOfInputEndsTheLoop) {
  // The last line has no line end; it still counts, then input ends.
  std::string sOutput = Loop("7\n7");
  EXPECT_EQ(sNothingLine() + sNothingLine(), sOutput);
}

TEST_F(CommandTest, LoopStopsBeforeReadingWhenThePollThreadHasEnded) {
  _Test.SetInput("5 on\n");
  _Test.PollLoop()->m_bRunning = false;
  _Test._FrontEnd.CommandLoop();
  EXPECT_TRUE(Targets().empty());
  EXPECT_EQ("5 on\n", _Test.RestOfInput());
}

// Only the first 99 characters of a long line count; the rest is dropped
// and never becomes a command of its own.
TEST_F(CommandTest, TailOfALongLineIsNotACommand) {
  std::string sLine = "7" + std::string(98, ' ') + "5 on suspend";
  sLine += std::string(150 - sLine.size(), ' ');
  std::string sOutput = Loop(sLine + "\n");
  EXPECT_EQ(sNothingLine(), sOutput);
  EXPECT_TRUE(Targets().empty());
  EXPECT_FALSE(_Test.PollLoop()->m_bSuspended.load());
}

TEST_F(CommandTest, PasswordRequestRoutesTheNextLineToThePrompt) {
  Veru::Engine* pEngine = _Test._FrontEnd.m_pEngine.load();
  pEngine->m_bUsingRemote = true;
  pEngine->m_bInvalidUserPass = true;
  _Test._FrontEnd.m_bNeedPassword = true;
  _Test._FrontEnd.m_bNeedUserPassword = true;
  // The device command is taken as the moment to ask; the password given
  // ends the request, so the next line is a command again.
  std::string sOutput = Loop("5 on\ns3cret\nn\n7\n");
  EXPECT_EQ(
      "What is your verunet password?\nDo you want to save this password? "
      "[Y/n]" + sNothingLine(),
      sOutput);
  EXPECT_TRUE(Targets().empty());
  EXPECT_EQ("s3cret", pEngine->m_sPassword);
  EXPECT_FALSE(pEngine->m_bInvalidUserPass);
  EXPECT_FALSE(_Test._FrontEnd.m_bNeedPassword.load());
  EXPECT_FALSE(_Test._FrontEnd.m_bNeedUserPassword.load());
  EXPECT_FALSE(FileExists("arg_pass"));
  EXPECT_EQ("1", ReadFile("arg_usingremote"));
}

TEST_F(CommandTest, RefusedCredentialsRouteTheNextLineToTheWizard) {
  // The refused unit is given up: the wizard picks another one.
  _Test._FrontEnd.m_bNeedUserPassword = true;
  _Test.DropUnit();
  std::string sOutput = Loop("5 on\n127.0.0.41\n7\n");
  EXPECT_EQ(0u, sOutput.find("There are 2 ways to talk to your Veru system.\n"));
  EXPECT_TRUE(EndsWith(sOutput,
                       "What is your verunet username (blank if you don't "
                       "have one or an IP):" + sNothingLine()))
      << sOutput;
  EXPECT_TRUE(Targets().empty());
  ASSERT_NE(nullptr, _Test._FrontEnd.m_pEngine.load());
  EXPECT_EQ("127.0.0.41", _Test._FrontEnd.m_pEngine.load()->m_sIp);
  EXPECT_FALSE(_Test._FrontEnd.m_bNeedUserPassword.load());
}

TEST_F(CommandTest, EmptyPasswordKeepsAskingAndQuitStillWorks) {
  Veru::Engine* pEngine = _Test._FrontEnd.m_pEngine.load();
  pEngine->m_bUsingRemote = true;
  _Test._FrontEnd.m_bNeedPassword = true;
  std::string sOutput = Loop("7\n\n\nquit\n7\n");
  EXPECT_EQ(
      "What is your verunet password?\nDo you want to save this password? "
      "[Y/n]",
      sOutput);
  EXPECT_TRUE(_Test._FrontEnd.m_bNeedPassword.load());
  EXPECT_EQ("7\n", _Test.RestOfInput());
}

TEST_F(CommandTest, EndOfInputAtThePasswordPromptStoresNothing) {
  Veru::Engine* pEngine = _Test._FrontEnd.m_pEngine.load();
  pEngine->m_bUsingRemote = true;
  pEngine->m_sPassword = "old";
  _Test._FrontEnd.m_bNeedPassword = true;
  std::string sOutput = Loop("7\nnew");
  EXPECT_EQ(
      "What is your verunet password?\nDo you want to save this password? "
      "[Y/n]\n",
      sOutput);
  EXPECT_EQ("old", pEngine->m_sPassword);
  EXPECT_FALSE(FileExists("arg_serialnumber"));
}

}  // namespace
