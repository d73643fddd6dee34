// The reporting seam: how a span of time is told, the restored connection
// in the text and JSON forms, and --once's decorator.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "console/report/device_json_text.h"
#include "console/report/json_objects.h"
#include "console/report/json_report.h"
#include "console/report/once_report.h"
#include "console/report/report.h"
#include "console/report/text_report.h"
#include "console/report/utf8_text.h"
#include "engine/poll_loop.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

namespace {

// Everything written to a temporary stream so far.
std::string ReadBack(FILE* pFile) {
  fflush(pFile);
  rewind(pFile);
  std::string sText;
  int c;
  while ((c = fgetc(pFile)) != EOF) sText += static_cast<char>(c);
  return sText;
}

TEST(ReportTest, SpansAreToldInHoursMinutesAndSeconds) {
  const struct {
    int64_t tSeconds;
    const char* sSpan;
  } cases[] = {
      {-5, "0 s"},          {0, "0 s"},
      {45, "45 s"},         {60, "1 min 0 s"},
      {160, "2 min 40 s"},  {3599, "59 min 59 s"},
      {3600, "1 h 0 min 0 s"}, {3785, "1 h 3 min 5 s"},
      {90061, "25 h 1 min 1 s"},
  };
  for (const auto& _Case : cases) {
    EXPECT_EQ(_Case.sSpan, FormatSpan(_Case.tSeconds)) << _Case.tSeconds;
  }
}

// Well-formed UTF-8 passes as it is; each maximal ill-formed part becomes
// one U+FFFD.
TEST(ReportTest, TextsForJsonAreValidUtf8) {
  const std::string sBad = "\xef\xbf\xbd";
  const struct {
    std::string sIn;
    std::string sOut;
  } cases[] = {
      {"", ""},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1 \xf4\x8f\xbf\xbf",
       "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1 \xf4\x8f\xbf\xbf"},
      {"\xff\xfe", sBad + sBad},                        // never in UTF-8
      {"\x80x", sBad + "x"},                             // stray continuation
      {"\xe2\x82x", sBad + "x"},                         // cut sequence
      {"\xe2\x82", sBad},                                // cut at the end
      {"\xc0\xaf", sBad + sBad},                         // overlong, 2 bytes
      {"\xe0\x80\xaf", sBad + sBad + sBad},              // overlong, 3 bytes
      {"\xed\xa0\x80", sBad + sBad + sBad},              // a surrogate
      {"\xf4\x90\x80\x80", sBad + sBad + sBad + sBad},   // above U+10FFFF
      {"\xf0\x9f\x92\xc3\xa9", sBad + "\xc3\xa9"},      // cut, then valid
  };
  for (const auto& _Case : cases) {
    EXPECT_EQ(_Case.sOut, ValidUtf8(_Case.sIn)) << _Case.sIn;
  }
}

// A front end that never ran Run reports as text: the restored connection
// is one line on standard error, nothing on standard output.
// The device object written directly is json-c's text, byte for byte: for
// texts that need every escape, ill-formed UTF-8, NUL bytes in values and
// names, names that a NUL cut or the UTF-8 repair makes one, extreme
// numbers, and many random devices.
TEST(ReportTest, DeviceJsonTextIsJsonCsText) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  auto Make = [](const std::string& sName, const std::string& sComment,
                 const Pairs& vecVariables) {
    Veru::Device _Device(7);
    _Device.m_sName = sName;
    _Device.m_sComment = sComment;
    for (const auto& variable : vecVariables) {
      _Device.m_mapVariables[variable.first] = variable.second;
    }
    return _Device;
  };
  std::vector<Veru::Device> vecDevices = {
      Make("", "", {}),
      Make("Lamp \"A\" \\ b/c", "tab\there\nline\r\b\f\x01\x1f\x7f",
           {{"Status", "1"}, {"Url", "http://x/y?a=1&b=\"2\""}}),
      Make("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1", "\xff\xfe bad \xc3",
           {{"V", std::string("a\0b", 3)}, {"W", "\xed\xa0\x80"}}),
      Make("n", "c", {{std::string("a\0x", 3), "1"}, {std::string("a\0y", 3), "2"},
                      {"a", "0"}}),
      Make("n", "c", {{"a\xfe", "1"}, {"a\xfex", "2"}, {"a\xff", "3"}}),
      Make("n", "c", {{"\xc3\xa9t\xc3\xa9", "\xe2\x80\xa8"}}),
  };
  vecDevices[1].m_iRoom = -2147483647 - 1;
  vecDevices[1].m_iCategory = 2147483647;
  vecDevices[1].m_iState = -1;
  std::mt19937 _Random(20261211);
  auto RandomText = [&](size_t iMost) {
    std::string sText(_Random() % (iMost + 1), ' ');
    for (char& c : sText) {
      // Mostly plain letters, now and then any byte.
      c = _Random() % 4 == 0 ? static_cast<char>(_Random() % 256)
                             : static_cast<char>('a' + _Random() % 26);
    }
    return sText;
  };
  for (int i = 0; i < 2000; ++i) {
    Pairs vecVariables;
    for (int j = static_cast<int>(_Random() % 6); j > 0; --j) {
      vecVariables.push_back({RandomText(6), RandomText(12)});
    }
    vecDevices.push_back(Make(RandomText(10), RandomText(10), vecVariables));
  }
  for (const Veru::Device& _Device : vecDevices) {
    ASSERT_EQ(DeviceJsonText(_Device), JsonText(NewDeviceObject(_Device)))
        << _Device.m_sName;
  }
}

TEST(ReportTest, RestoredConnectionInTheTextForm) {
  WiredFrontEnd _Wired;
  CapturedOutput _Output;
  CapturedOutput _Errors(CapturedOutput::Stream::kStderr);
  _Wired.m_FrontEnd.OnConnectionRestored(160);
  _Wired.m_FrontEnd.OnConnectionRestored(45);
  std::string sErrors = _Errors.Text();
  EXPECT_EQ("", _Output.Text());
  EXPECT_EQ(
      "veru-console: connection restored after 2 min 40 s\n"
      "veru-console: connection restored after 45 s\n",
      sErrors);
}

TEST(ReportTest, RestoredConnectionInTheJsonForm) {
  FILE* pFile = tmpfile();
  ASSERT_NE(nullptr, pFile);
  FakeClock::Reset(1700000123);
  JsonReport _Report(pFile);
  _Report.ConnectionRestored(160);
  EXPECT_EQ(
      "{\"event\":\"connection\",\"time\":1700000123,\"what\":\"restored\","
      "\"seconds\":160}\n",
      ReadBack(pFile));
  fclose(pFile);
}

// The controller's error text is taken apart once for every form: a unit
// that ends it with CR LF leaves no carriage return in the text result
// line, the JSON message or --do's reason; without its text the JSON
// message carries the reason.
TEST(ReportTest, ControllerTextLosesItsLineEndsInEveryForm) {
  struct Case {
    const char* sMessage;
    const char* sWords;
    const char* sTextLine;
  };
  const Case cases[] = {
      {" No such device: 9\r\n", "No such device: 9",
       "\n----COMMAND RESULT: -1  No such device: 9\n"},
      {" No such device: 9\n", "No such device: 9",
       "\n----COMMAND RESULT: -1  No such device: 9\n"},
      {" Busy\r", "Busy", "\n----COMMAND RESULT: -1  Busy"},
      {"Bad\r\n\r\n", "Bad", "\n----COMMAND RESULT: -1 Bad\n\n"},
      {" \r\n", "", "\n----COMMAND RESULT: -1  \n"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sMessage);
    EXPECT_EQ(_Case.sWords, SplitControllerText(_Case.sMessage).sWords);
    CommandResult _Result;
    _Result.sCommand = "9 on";
    _Result.iKind = CommandResult::Kind::kAction;
    _Result.iResult = -1;
    _Result.sMessage = _Case.sMessage;
    FILE* pText = tmpfile();
    ASSERT_NE(nullptr, pText);
    TextReport(pText).Result(_Result);
    EXPECT_EQ(_Case.sTextLine, ReadBack(pText));
    fclose(pText);
    FakeClock::Reset(1700000123);
    _Result.sReason = "no answer from the unit";
    FILE* pJson = tmpfile();
    ASSERT_NE(nullptr, pJson);
    JsonReport(pJson).Result(_Result);
    std::string sWords = _Case.sWords;
    EXPECT_EQ(
        "{\"event\":\"result\",\"time\":1700000123,\"command\":\"9 on\","
        "\"result\":-1,\"message\":\"" +
            (sWords.empty() ? std::string("no answer from the unit") : sWords) + "\"}\n",
        ReadBack(pJson));
    fclose(pJson);
  }
}

// --once passes every report on, ends polling after the first full report
// that was not asked for with "show", and keeps the first reason it gave up
// for.
TEST(ReportTest, OnceEndsAfterTheFirstFullReportOrGivesUp) {
  WiredFrontEnd _Wired;
  Veru::PollLoop* pPollLoop = _Wired.PollLoop();
  FILE* pFile = tmpfile();
  ASSERT_NE(nullptr, pFile);
  {
    OnceReport _Once(std::make_unique<TextReport>(pFile), pPollLoop);
    _Once.Full(*pPollLoop, true);
    EXPECT_FALSE(pPollLoop->m_bQuit.load());
    EXPECT_FALSE(_Once.Reported());
    _Once.Full(*pPollLoop, false);
    EXPECT_TRUE(pPollLoop->m_bQuit.load());
    EXPECT_TRUE(_Once.Reported());
    EXPECT_EQ(nullptr, _Once.FailureReason());
    const std::string sFull = "======================FULLDATA:\n"
                              "--ENGINE state -2 comment  loadtime 0 "
                              "dataversion 0\n";
    EXPECT_EQ(sFull + sFull, ReadBack(pFile));
  }

  const struct {
    const char* sName;
    void (*fReport)(Report*);
    const char* sReason;  // null: polling goes on
  } cases[] = {
      {"two failed polls", [](Report* p) { p->NoResponse(2, 10); }, nullptr},
      {"three failed polls", [](Report* p) { p->NoResponse(3, 20); },
       "the unit does not answer"},
      {"password", [](Report* p) { p->PasswordNeeded(); },
       "the unit needs a password (run veru-console without --once to give "
       "it)"},
      {"refused", [](Report* p) { p->UserPasswordNeeded(); },
       "the user name or password was refused"},
      {"lost, after the unit gave up",
       [](Report* p) {
         p->UnableToConnect();
         p->ConnectionLost();
         p->NoResponse(3, 0);
       },
       "the connection was lost"},
  };
  for (const auto& _Case : cases) {
    SCOPED_TRACE(_Case.sName);
    pPollLoop->m_bQuit = false;
    FILE* pCase = tmpfile();
    ASSERT_NE(nullptr, pCase);
    OnceReport _Once(std::make_unique<TextReport>(pCase), pPollLoop);
    std::string sConnection = CaptureStdoutOf([&] { _Case.fReport(&_Once); });
    EXPECT_NE("", sConnection);
    EXPECT_EQ(_Case.sReason != nullptr, pPollLoop->m_bQuit.load());
    if (_Case.sReason == nullptr) {
      EXPECT_EQ(nullptr, _Once.FailureReason());
    } else {
      ASSERT_NE(nullptr, _Once.FailureReason());
      EXPECT_STREQ(_Case.sReason, _Once.FailureReason());
    }
    EXPECT_FALSE(_Once.Reported());
    fclose(pCase);
  }
  fclose(pFile);
}

}  // namespace
