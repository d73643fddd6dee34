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

// A number typed is read one way: "show 5x" shows device 5 as "5x on"
// switches device 5; a bare device number gets its result line and no
// word on standard error, a number with an unknown word both.
TEST_F(CommandTest, NumbersTypedAreReadOneWay) {
  Veru::Device* pDevice = new Veru::Device(5);
  pDevice->m_sName = "Hall light";
  _Test.PollLoop()->m_mapDevice[5] = pDevice;
  std::string sShown = Handle("show 5");
  ASSERT_NE(std::string::npos, sShown.find("---DEVICE 5 Hall light")) << sShown;
  CapturedOutput _ShowErrors(CapturedOutput::Stream::kStderr);
  EXPECT_EQ(sShown, Handle("show 5x"));
  EXPECT_EQ("", _ShowErrors.Text());
  _Server.ClearLog();
  Handle("5x on");
  EXPECT_EQ(std::vector<std::string>{kOnPath}, Targets());
  struct Case {
    const char* cLine;
    std::string sErrors;
  };
  const Case cases[] = {
      {"7", ""},
      {"  7  ", ""},
      {"7 blink", "Unknown command: 7 blink; type help\n"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    CapturedOutput _Errors(CapturedOutput::Stream::kStderr);
    EXPECT_EQ(sNothingLine(), Handle(_Case.cLine));
    EXPECT_EQ(_Case.sErrors, _Errors.Text());
  }
}

// "N call": the one request, its path built from the line's words, and
// the result line the other actions print; a refused call sends nothing
// and prints nothing on standard output.
TEST_F(CommandTest, CallSendsAnyActionWithItsArgumentsEncoded) {
  struct Case {
    const char* cLine;
    std::string sTarget;  // empty: nothing is sent
    std::string sErrors;
  };
  const std::string sPath =
      "/data_request?id=lu_action&DeviceNum=5&serviceId=";
  const Case cases[] = {
      {"5 call urn:x:serviceId:Net1 Reconnect",
       sPath + "urn:x:serviceId:Net1&action=Reconnect&output_format=json", ""},
      {"5 call urn:x:serviceId:Mode1 SetMode Mode=on",
       sPath + "urn:x:serviceId:Mode1&action=SetMode&output_format=json&Mode=on",
       ""},
      {"5 call urn:upnp-org:serviceId:TemperatureSetpoint1_Heat "
       "SetCurrentSetpoint NewCurrentSetpoint=21.5",
       sPath + "urn:upnp-org:serviceId:TemperatureSetpoint1_Heat&action="
               "SetCurrentSetpoint&output_format=json&NewCurrentSetpoint=21.5",
       ""},
      {"5 call S A Text=a&b Sign=#=1 Name=Gr\xc3\xbc\xc3\x9f" "e",
       sPath + "S&action=A&output_format=json&Text=a%26b&Sign=%23%3D1&"
               "Name=Gr%C3%BC%C3%9Fe",
       ""},
      {"5 call S?x A", "",
       "Not a service: S?x (letters, digits and : . _ - only)\n"},
      {"5 call S", "",
       "call needs a service and an action; usage: N call SERVICE ACTION "
       "[NAME=VALUE]...\n"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    _Server.ClearLog();
    CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
    std::string sOutput = Handle(_Case.cLine);
    std::string sErrors = _CaptureErrors.Text();
    EXPECT_EQ(_Case.sErrors, sErrors);
    if (_Case.sTarget.empty()) {
      EXPECT_TRUE(Targets().empty());
      EXPECT_EQ("", sOutput);
    } else {
      EXPECT_EQ(std::vector<std::string>{_Case.sTarget}, Targets());
      EXPECT_TRUE(EndsWith(sOutput, "\n----COMMAND RESULT: 0 ")) << sOutput;
    }
  }
}

// A line that is not a command: one line on standard error, standard
// output as it always was (the result line only after a device number).
TEST_F(CommandTest, LinesThatAreNotCommandsAreAnsweredOnStandardError) {
  struct Case {
    const char* cLine;
    std::string sOutput;
    std::string sErrors;
  };
  const Case cases[] = {
      {"helo", "", "Unknown command: helo; type help\n"},
      {"7 blink", sNothingLine(), "Unknown command: 7 blink; type help\n"},
      {"0 on", "", "Unknown command: 0 on; type help\n"},
      {"lamp on", "", "No device named \"lamp\"; type show to see the devices\n"},
      {"4294967301 on", "",
       "Not a device number: 4294967301 (out of the 32-bit range)\n"},
      {"", "", ""},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
    std::string sOutput = Handle(_Case.cLine);
    EXPECT_EQ(_Case.sErrors, _CaptureErrors.Text());
    EXPECT_EQ(_Case.sOutput, sOutput);
  }
  EXPECT_TRUE(Targets().empty());
}

// A device named instead of numbered, from the model as it is known.
TEST_F(CommandTest, DeviceByItsNameInTheModel) {
  for (const std::pair<int, const char*>& _Seed :
       std::vector<std::pair<int, const char*>>{
           {5, "Hall light"}, {6, "Hall light 2"}, {8, "Porch"}, {9, "PORCH"}}) {
    Veru::Device* pDevice = new Veru::Device(_Seed.first);
    pDevice->m_sName = _Seed.second;
    _Test.PollLoop()->m_mapDevice[_Seed.first] = pDevice;
  }
  struct Case {
    const char* cLine;
    std::string sTarget;
    std::string sErrors;
  };
  const Case cases[] = {
      {"hall light on", kOnPath, ""},
      {"Hall light 2 poll",
       "/data_request?id=lu_action&DeviceNum=6&serviceId=urn:lumenhollow-com:"
       "serviceId:HaDevice1&action=Poll&output_format=json",
       ""},
      {"porch on", "",
       "More than one device is named \"Porch\": 8, 9; use the number\n"},
      {"hall on", "",
       "No device named \"hall\"; devices with that in their name: 5 Hall "
       "light, 6 Hall light 2\n"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    _Server.ClearLog();
    CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
    std::string sOutput = Handle(_Case.cLine);
    EXPECT_EQ(_Case.sErrors, _CaptureErrors.Text());
    if (_Case.sTarget.empty()) {
      EXPECT_TRUE(Targets().empty());
      EXPECT_EQ("", sOutput);
    } else {
      EXPECT_EQ(std::vector<std::string>{_Case.sTarget}, Targets());
      EXPECT_TRUE(EndsWith(sOutput, "\n----COMMAND RESULT: 0 ")) << sOutput;
    }
  }
}

// suspend and resume have no result line: they say what they did on
// standard error, and standard output stays as it was.
TEST_F(CommandTest, SuspendAndResumeSayWhatTheyDid) {
  const struct {
    const char* cLine;
    const char* sSaid;
  } cases[] = {
      {"suspend", "veru-console: polling suspended\n"},
      {"resume", "veru-console: polling resumed\n"},
      {"7 suspend", "veru-console: polling suspended\n"},
  };
  for (const auto& _Case : cases) {
    SCOPED_TRACE(_Case.cLine);
    CapturedOutput _Errors(CapturedOutput::Stream::kStderr);
    std::string sOutput = Handle(_Case.cLine);
    EXPECT_EQ(_Case.sSaid, _Errors.Text());
    EXPECT_EQ("", sOutput);
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

// A line longer than 1,000 bytes is refused whole: nothing of it runs, and
// its tail never becomes a command of its own; the next line is read as
// usual.
TEST_F(CommandTest, ALineTooLongIsRefusedWhole) {
  std::string sLine = "7" + std::string(999, ' ') + "5 on suspend";
  std::string sOutput = Loop(sLine + "\n7\n");
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

// A request for credentials that no longer holds when the next line comes
// (the unit switched to local access, or the wizard chose another unit)
// routes nothing: the line is a command, and the flags are down.
TEST_F(CommandTest, CredentialsNoLongerNeededLeaveTheLineACommand) {
  struct Case {
    const char* cName;
    bool bPassword;  // else the user name and password were refused
    bool bOtherUnit;  // else the unit itself switched to local access
  };
  const Case cases[] = {
      {"password, then local access", true, false},
      {"refused, then local access", false, false},
      {"password, then another unit", true, true},
      {"refused, then another unit", false, true},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cName);
    _Server.ClearLog();
    Veru::Engine* pEngine = _Test.SetLocalUnit("127.0.0.41");
    pEngine->m_bUsingRemote = true;
    pEngine->m_bInvalidUserPass = !_Case.bPassword;
    if (_Case.bPassword) {
      _Test._FrontEnd.m_bNeedPassword = true;
    } else {
      _Test._FrontEnd.m_bNeedUserPassword = true;
    }
    if (_Case.bOtherUnit) {
      _Test.SetLocalUnit("127.0.0.41");
    } else {
      Veru::MutexHolder _Lock(&_Test._FrontEnd.m_Mutex);
      pEngine->m_bUsingRemote = false;
    }
    std::string sOutput = Loop("5 on\n");
    EXPECT_EQ(std::string::npos, sOutput.find("password")) << sOutput;
    EXPECT_EQ(std::string::npos, sOutput.find("username")) << sOutput;
    EXPECT_EQ(std::vector<std::string>{kOnPath}, Targets());
    EXPECT_FALSE(_Test._FrontEnd.m_bNeedPassword.load());
    EXPECT_FALSE(_Test._FrontEnd.m_bNeedUserPassword.load());
  }
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
  // Refused: the old password does not end the need.
  pEngine->m_sPassword = "old";
  pEngine->m_bInvalidUserPass = true;
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
