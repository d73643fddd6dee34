// Text from a unit, a forward server or a locator cannot drive the terminal:
// control bytes in it are printed escaped at every place that prints such
// text, through the real printing hooks, the command results, the wizard's
// unit list and the transport's GET line; everything else prints unchanged.
#include <gtest/gtest.h>

#include <string>

#include "engine/terminal_text.h"
#include "engine/transport.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/front_end_fixture.h"
#include "tests/test_util.h"

namespace {

using namespace std::string_literals;

// A stand-in unit and locators of this file's own.
const char kUnitIp[] = "127.0.0.121";

struct TextCase {
  const char* sName;
  std::string sText;     // as the unit sent it
  std::string sPrinted;  // as it must reach the terminal
};

// Ordinary texts print byte for byte; hostile ones lose their control bytes
// to escapes.
const TextCase kTextCases[] = {
    {"plain", "Living room lamp", "Living room lamp"},
    {"empty", "", ""},
    {"UTF-8", "K\xc3\xbc" "che \xe2\x80\x93 Licht \xe2\x98\x80",
     "K\xc3\xbc" "che \xe2\x80\x93 Licht \xe2\x98\x80"},
    {"every other byte from 0x80 up", "\x80\x9b\xa0\xbf\xc0\xfe\xff",
     "\x80\x9b\xa0\xbf\xc0\xfe\xff"},
    {"punctuation and backslashes", "~!@#$%^&*()_+{}|:\"<>?`-=[];',./ \\x1b \\",
     "~!@#$%^&*()_+{}|:\"<>?`-=[];',./ \\x1b \\"},
    {"colour and a forged line", "\x1b[31mred\r\nFAKE LINE",
     "\\x1b[31mred\\r\\nFAKE LINE"},
    {"window title, bell, screen cleared", "\x1b]0;owned\x07\x1b[2J",
     "\\x1b]0;owned\\x07\\x1b[2J"},
    {"every control byte",
     "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
     "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f"s,
     "\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\t\\n\\x0b\\x0c\\r\\x0e"
     "\\x0f\\x10\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\\x19\\x1a\\x1b\\x1c"
     "\\x1d\\x1e\\x1f\\x7f"},
    {"a NUL does not end the text", "a\0b\tc"s, "a\\x00b\\tc"},
};

TEST(TerminalText, ModelPrintingEscapesControlBytesAndNothingElse) {
  for (const TextCase& _Case : kTextCases) {
    SCOPED_TRACE(_Case.sName);
    EXPECT_EQ(_Case.sPrinted, Veru::EscapeControlBytes(_Case.sText));

    TestFrontEnd _Test;
    Veru::PollLoop* pPollLoop = _Test.PollLoop();
    Veru::Device _Device(5);
    _Device.m_iRoom = 1;
    _Device.m_iCategory = 2;
    _Device.m_iState = 4;
    _Device.m_sName = _Case.sText;
    _Device.m_sComment = _Case.sText;
    _Device.m_mapVariables["a" + _Case.sText] = _Case.sText;
    Veru::Scene _Scene(9);
    _Scene.m_sName = _Case.sText;
    _Scene.m_sComment = _Case.sText;
    pPollLoop->m_iState = 3;
    pPollLoop->m_sComment = _Case.sText;
    pPollLoop->m_iLoadTime = 100;
    pPollLoop->m_iDataVersion = 7;

    CapturedOutput _Capture;
    _Test._FrontEnd.OnDevice(&_Device);
    _Test._FrontEnd.OnScene(&_Scene);
    _Test._FrontEnd.OnEngineState();
    fflush(stdout);
    const std::string& p = _Case.sPrinted;
    EXPECT_EQ("---DEVICE 5 " + p + " room 1 category 2 state 4 comment " + p +
                  "\n"
                  "   a" + p + "=" + p + "\n"
                  "-----SCENE 9 " + p + " room 0 active 0 state -1 comment " +
                  p + "\n"
                  "--ENGINE state 3 comment " + p +
                  " loadtime 100 dataversion 7\n",
              _Capture.Text());
    // The records keep what was received.
    EXPECT_EQ(_Case.sText, _Device.m_sName);
  }
}

// The command results, the camera URLs and the GET line of the transport,
// with a unit whose texts are hostile.
class TerminalTextCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    FakeClock::Reset(1700000000);
    ASSERT_TRUE(_Server.Start(kUnitIp, 3480));
  }

  std::string Handle(const std::string& sLine) {
    CapturedOutput _Capture;
    _Test._FrontEnd.HandleCommand(sLine.c_str());
    return _Capture.Text();
  }

  ScratchDir _Dir;
  Sim::SimServer _Server;
  TestFrontEnd _Test;
};

TEST_F(TerminalTextCommandTest, CommandResultsAndURLsAreEscaped) {
  _Test.SetLocalUnit(kUnitIp);
  _Server.Queue({200, "ERROR: \x1b[2Jgone\r\nFAKE LINE", 0, false});
  std::string sOutput = Handle("5 on");
  EXPECT_NE(std::string::npos,
            sOutput.find(" bytes\n\n----COMMAND RESULT: -1  "
                         "\\x1b[2Jgone\\r\\nFAKE LINE"))
      << sOutput;
  EXPECT_EQ(std::string::npos, sOutput.find('\x1b'));

  // A camera whose stream address came from the unit.
  {
    Veru::MutexHolder _Lock(_Test._FrontEnd.ModelMutex());
    Veru::Device* pDevice = new Veru::Device(7);
    pDevice->m_mapVariables["ip"] = "10.0.0.9\x1b[1A";
    pDevice->m_mapVariables["streaming"] = "v.cgi\x07";
    _Test.PollLoop()->m_mapDevice[7] = pDevice;
  }
  EXPECT_EQ("\n---URL type:  for camera stream: http://10.0.0.9\\x1b[1A/v.cgi"
            "\\x07\n\n----COMMAND RESULT: -2 ",
            Handle("7 stream"));

  // An address from the locator: the image URL and the GET line.
  _Test.DropUnit();
  _Test.SetLocalUnit("127.0.0.121\x1b]0;x\x07");
  EXPECT_EQ("\n---URL for camera image: http://127.0.0.121\\x1b]0;x\\x07:3480/"
            "data_request?id=cam_image&Device_Num=7&time=1700000000\n\n"
            "----COMMAND RESULT: -2 ",
            Handle("7 image"));
  FakeWget _Wget("exit 4");
  CapturedOutput _Capture;
  Veru::DataBlock _DataBlock(true);
  const char kUrl[] = "http://127.0.0.121\x1b]0;x\x07:3480/x";
  Veru::FetchURL(kUrl, kUrl, 30, &_DataBlock);
  EXPECT_EQ("GET:http://127.0.0.121\\x1b]0;x\\x07:3480/x got: 0 bytes\n",
            _Capture.Text());
}

TEST(TerminalTextWizard, UnitListIsEscaped) {
  FakeClock::Reset(1700000000);
  ScratchDir _Dir;
  Sim::SimServer _Locator;
  Sim::SimServer _Backup;
  ASSERT_TRUE(StartLocators(
      &_Locator, &_Backup,
      "{\"units\": [{\"serialNumber\": 30001, \"name\": "
      "\"Home\\u001b[2J\\r\\nFAKE\", \"ipAddress\": \"127.0.0.121\\u0007\", "
      "\"users\": []}]}"));
  TestFrontEnd _Test;
  _Test.SetInput("alice\n30001\n");
  CapturedOutput _Capture;
  _Test._FrontEnd.ConnectWizard("");
  std::string sOutput = _Capture.Text();
  EXPECT_NE(std::string::npos,
            sOutput.find("Here are the VERU engines you can connect to:\n"
                         "30001 local ip: 127.0.0.121\\x07 Home\\x1b[2J\\r\\n"
                         "FAKE can connect local: Y remote: N\n"))
      << sOutput;
  EXPECT_NE(std::string::npos,
            sOutput.find("Connecting locally on IP: 127.0.0.121\\x07\n"))
      << sOutput;
  // The unit keeps the address as received.
  ASSERT_NE(nullptr, _Test._FrontEnd.CurrentEngine());
  EXPECT_EQ("127.0.0.121\x07", _Test._FrontEnd.CurrentEngine()->m_sIp);
}

}  // namespace
