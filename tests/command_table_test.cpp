// The reading of command lines against the command table, without a unit:
// which row decides, for which device, with which action arguments, and the
// answer for a line that is not a command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/commands/command_table.h"

namespace {

// The devices of a small home, names chosen so that one begins another,
// one holds a command word, and two are the same but for case.
const std::vector<DeviceName> kNames = {
    {3, "Kitchen light"},  {4, "Kitchen motion"}, {11, "Garden light"},
    {21, "Garden light 2"}, {30, "Porch"},        {31, "porch"},
    {1, "Living room lamp"}, {7, "Bedroom lamp"},
};

// What a line was read as, in one text: "WORD DEVICE ARGUMENTS", "-"
// for no row, then " | ERROR" when there is an error.
std::string Reading(const std::string& sLine) {
  CommandLine _Command = ReadCommandLine(sLine, &kNames);
  std::string sText = _Command.pRow == nullptr ? "-" : _Command.pRow->sWord;
  sText += " " + std::to_string(_Command.iDevice);
  if (!_Command.sService.empty()) sText += " " + _Command.sService;
  if (!_Command.sAction.empty()) sText += " " + _Command.sAction;
  if (!_Command.sArguments.empty()) sText += " " + _Command.sArguments;
  if (!_Command.sShowWhat.empty()) sText += " show:" + _Command.sShowWhat;
  if (!_Command.sError.empty()) sText += " | " + _Command.sError;
  return sText;
}

const char kOn[] = " urn:upnp-org:serviceId:SwitchPower1 SetTarget newTargetValue=1";
const char kOff[] = " urn:upnp-org:serviceId:SwitchPower1 SetTarget newTargetValue=0";

TEST(CommandTableTest, LinesThatHadAMeaningKeepIt) {
  struct Case {
    const char* sLine;
    std::string sReading;
  };
  const Case cases[] = {
      {"5 on", std::string("on 5") + kOn},
      {"5on", std::string("on 5") + kOn},
      {"  5 on", std::string("on 5") + kOn},
      {"-5 on", std::string("on -5") + kOn},
      {"5 dimension", std::string("on 5") + kOn},
      {"5 off", std::string("off 5") + kOff},
      {"5 dim", "dim 5 urn:upnp-org:serviceId:Dimming1 SetLoadLevelTarget "
                "newLoadlevelTarget=50"},
      {"5 dim 30", "dim 5 urn:upnp-org:serviceId:Dimming1 SetLoadLevelTarget "
                   "newLoadlevelTarget=30"},
      {"5 poll", "poll 5 urn:lumenhollow-com:serviceId:HaDevice1 Poll"},
      {"5 image", "image 5"},
      {"5 stream", "stream 5"},
      {"7 suspend", "suspend 0"},
      {"suspend", "suspend 0"},
      {"5 on resume", "resume 0"},
      {"x connect", "connect 0"},
      {"show", "show 0"},
      {"show 5", "show 0 show:5"},
      {"help", "help 0"},
      {"?", "help 0"},
      {"quit", "quit 0"},
      {"", "- 0"},
      {"   ", "- 0"},
      // A number and no word: the result line that sends nothing.
      {"7", "- 7"},
      {" 7 ", "- 7"},
      {"7 blink", "- 7 | Unknown command: 7 blink; type help"},
      {"5 ON", "- 5 | Unknown command: 5 ON; type help"},
      {"5 help", "- 5 | Unknown command: 5 help; type help"},
      // Nothing, as before; now said on standard error.
      {"0 on", "- 0 | Unknown command: 0 on; type help"},
      {" quit", "- 0 | Unknown command:  quit; type help"},
      {"quit now", "- 0 | Unknown command: quit now; type help"},
      {"helo", "- 0 | Unknown command: helo; type help"},
      {"help me", "- 0 | Unknown command: help me; type help"},
      {"show 5 6", "- 0 | Unknown command: show 5 6; type help"},
      {"bad\x1b[2J", "- 0 | Unknown command: bad\\x1b[2J; type help"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sLine);
    EXPECT_EQ(_Case.sReading, Reading(_Case.sLine));
  }
}

TEST(CommandTableTest, CallTakesAnyServiceActionAndEncodedArguments) {
  struct Case {
    const char* sLine;
    std::string sReading;
  };
  const char kUsage[] = "usage: N call SERVICE ACTION [NAME=VALUE]...";
  const Case cases[] = {
      // Whole words first: neither "connect" nor "on" decides.
      {"5 call urn:x:serviceId:Net1 Reconnect", "call 5 urn:x:serviceId:Net1 Reconnect"},
      {"5 call urn:x:serviceId:Mode1 Set Mode=on",
       "call 5 urn:x:serviceId:Mode1 Set Mode=on"},
      {"5call S.1 A_b-2", "call 5 S.1 A_b-2"},
      {"12 call S A NewCurrentSetpoint=21.5 Unit=C",
       "call 12 S A NewCurrentSetpoint=21.5&Unit=C"},
      {"5 call S A Text=a&b", "call 5 S A Text=a%26b"},
      {"5 call S A Text=a=b", "call 5 S A Text=a%3Db"},
      {"5 call S A Tag=#1", "call 5 S A Tag=%231"},
      {"5 call S A Text=", "call 5 S A Text="},
      {"5 call S A Name=caf\xc3\xa9", "call 5 S A Name=caf%C3%A9"},
      {"5 call S A a~b=c+d%", "call 5 S A a~b=c%2Bd%25"},
      // Refused: nothing is to be sent.
      {"5 call S", std::string("- 0 | call needs a service and an action; ") + kUsage},
      {"5 call", std::string("- 0 | call needs a service and an action; ") + kUsage},
      {"5 call S/x A", "- 0 | Not a service: S/x (letters, digits and : . _ - only)"},
      {"5 call S A&x=1", "- 0 | Not an action: A&x=1 (letters, digits and : . _ - only)"},
      {"5 call S A x", "- 0 | Not an argument: x (NAME=VALUE)"},
      {"5 call S A =x", "- 0 | Not an argument: =x (NAME=VALUE)"},
      {"0 call S A", std::string("- 0 | call needs a device number other than 0; ") + kUsage},
      {"call S A", "- 0 | call needs a device number first; usage: N call "
                   "SERVICE ACTION [NAME=VALUE]..."},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sLine);
    EXPECT_EQ(_Case.sReading, Reading(_Case.sLine));
  }
}

TEST(CommandTableTest, DeviceByName) {
  struct Case {
    const char* sLine;
    std::string sReading;
  };
  const Case cases[] = {
      {"kitchen light on", std::string("on 3") + kOn},
      {"KITCHEN LIGHT off", std::string("off 3") + kOff},
      // The name's own "on" is not the command.
      {"Kitchen motion poll", "poll 4 urn:lumenhollow-com:serviceId:HaDevice1 Poll"},
      {"Garden light dim 30", "dim 11 urn:upnp-org:serviceId:Dimming1 "
                              "SetLoadLevelTarget newLoadlevelTarget=30"},
      // The longest name that fits wins.
      {"Garden light 2 off", std::string("off 21") + kOff},
      {"garden light 2 call S A X=1", "call 21 S A X=1"},
      {"Bedroom lamp image", "image 7"},
      {"porch on",
       "- 0 | More than one device is named \"Porch\": 30, 31; use the number"},
      {"lamp on", "- 0 | No device named \"lamp\"; devices with that in their "
                  "name: 1 Living room lamp, 7 Bedroom lamp"},
      {"attic fan dim 20", "- 0 | No device named \"attic fan\"; type show to "
                           "see the devices"},
      {"on", "- 0 | Unknown command: on; type help"},
      {"x5 on", "- 0 | No device named \"x5\"; type show to see the devices"},
      {"kitchen light", "- 0 | Unknown command: kitchen light; type help"},
      {"kitchen light blink", "- 0 | Unknown command: kitchen light blink; type help"},
      {"kitchen lights on", "- 0 | No device named \"kitchen lights\"; type "
                            "show to see the devices"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sLine);
    EXPECT_EQ(_Case.sReading, Reading(_Case.sLine));
  }
  // Without the names a line that needs them says so and runs nothing.
  CommandLine _Command = ReadCommandLine("kitchen light on", nullptr);
  EXPECT_TRUE(_Command.bNeedsNames);
  EXPECT_EQ(nullptr, _Command.pRow);
  EXPECT_FALSE(ReadCommandLine("5 on", nullptr).bNeedsNames);
}

TEST(CommandTableTest, NumbersBeyondThirtyTwoBitsAreRefused) {
  struct Case {
    const char* sLine;
    std::string sReading;
  };
  const Case cases[] = {
      {"2147483647 on", std::string("on 2147483647") + kOn},
      {"-2147483648 on", std::string("on -2147483648") + kOn},
      {"2147483648 on", "- 0 | Not a device number: 2147483648 (out of the "
                        "32-bit range)"},
      {"-2147483649 off", "- 0 | Not a device number: -2147483649 (out of the "
                          "32-bit range)"},
      {"99999999999999999999999 on",
       "- 0 | Not a device number: 99999999999999999999999 (out of the 32-bit "
       "range)"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sLine);
    EXPECT_EQ(_Case.sReading, Reading(_Case.sLine));
  }
}

// A level is a whole number from 0 to 100, or nothing (50); anything else
// refuses the whole line, so no device and no action are left to send.
TEST(CommandTableTest, LevelsAreWholeNumbersFromZeroToHundred) {
  const std::string kDim =
      " urn:upnp-org:serviceId:Dimming1 SetLoadLevelTarget newLoadlevelTarget=";
  struct Case {
    const char* sLine;
    std::string sReading;
  };
  const Case cases[] = {
      {"2 dim", "dim 2" + kDim + "50"},
      {"2 dim 0", "dim 2" + kDim + "0"},
      {"2 dim 100 ", "dim 2" + kDim + "100"},
      {"2dim30", "dim 2" + kDim + "30"},
      {"Garden light dim 7", "dim 11" + kDim + "7"},
      {"2 dim abc", "- 0 | Not a level: abc (a whole number from 0 to 100; nothing sent)"},
      {"2 dim 150", "- 0 | Not a level: 150 (a whole number from 0 to 100; nothing sent)"},
      {"2 dim -5", "- 0 | Not a level: -5 (a whole number from 0 to 100; nothing sent)"},
      {"2 dim +10", "- 0 | Not a level: +10 (a whole number from 0 to 100; nothing sent)"},
      {"2 dim 30%", "- 0 | Not a level: 30% (a whole number from 0 to 100; nothing sent)"},
      {"2 dim 30 40", "- 0 | Not a level: 30 40 (a whole number from 0 to 100; nothing sent)"},
      {"2 dim 99999999999", "- 0 | Not a level: 99999999999 (a whole number from 0 to "
                            "100; nothing sent)"},
      {"Garden light dim 101", "- 0 | Not a level: 101 (a whole number from 0 to 100; "
                               "nothing sent)"},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sLine);
    EXPECT_EQ(_Case.sReading, Reading(_Case.sLine));
    EXPECT_EQ(_Case.sReading.compare(0, 1, "-") == 0,
              ReadCommandLine(_Case.sLine, &kNames).bRefused);
  }
}

// A line with no number and no device command's word in it is not a
// command whatever the names: it asks for no names (so --do sends no status
// request for it).
TEST(CommandTableTest, LineWithoutCommandWordNeedsNoNames) {
  for (const char* sLine : {"hello there", "kitchen light", "x y z"}) {
    SCOPED_TRACE(sLine);
    CommandLine _Command = ReadCommandLine(sLine, nullptr);
    EXPECT_FALSE(_Command.bNeedsNames);
    EXPECT_EQ(nullptr, _Command.pRow);
    EXPECT_EQ(std::string("Unknown command: ") + sLine + "; type help", _Command.sError);
  }
  for (const char* sLine : {"kitchen light on", "lamp dim 5", "garden light 2 call S A"}) {
    SCOPED_TRACE(sLine);
    EXPECT_TRUE(ReadCommandLine(sLine, nullptr).bNeedsNames);
  }
}

// A mistyped name lists the devices whose names hold it: all of them up
// to eight, in the order given; beyond eight, the first eight and "...".
TEST(CommandTableTest, CandidatesForAMistypedNameAreExact) {
  std::vector<DeviceName> vecNames;
  for (int i = 1; i <= 10; ++i) vecNames.push_back({i, "Hall lamp " + std::to_string(i)});
  const std::string kFirstEight =
      "1 Hall lamp 1, 2 Hall lamp 2, 3 Hall lamp 3, 4 Hall lamp 4, 5 Hall lamp "
      "5, 6 Hall lamp 6, 7 Hall lamp 7, 8 Hall lamp 8";
  struct Case {
    size_t iNames;
    std::string sList;
  };
  const Case cases[] = {
      {1, "1 Hall lamp 1"},
      {7, "1 Hall lamp 1, 2 Hall lamp 2, 3 Hall lamp 3, 4 Hall lamp 4, 5 Hall "
          "lamp 5, 6 Hall lamp 6, 7 Hall lamp 7"},
      {8, kFirstEight},
      {9, kFirstEight + ", ..."},
      {10, kFirstEight + ", ..."},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.iNames);
    std::vector<DeviceName> vecSome(vecNames.begin(), vecNames.begin() + _Case.iNames);
    EXPECT_EQ("No device named \"lamp\"; devices with that in their name: " + _Case.sList,
              ReadCommandLine("lamp on", &vecSome).sError);
  }
}

// What differs between the rows is in the rows: the end and the wizard are
// what the caller does next, --do says why it runs none of the rows a
// person at the console needs, and a remote source may give device
// commands only.
TEST(CommandTableTest, RowsSayWhatTheCallerDoesNext) {
  EXPECT_EQ(CommandNext::kQuit, ReadCommandLine("quit", nullptr).pRow->eNext);
  EXPECT_EQ(CommandNext::kWizard, ReadCommandLine("connect", nullptr).pRow->eNext);
  EXPECT_EQ(CommandNext::kGoOn, ReadCommandLine("5 on", nullptr).pRow->eNext);
  for (const CommandRow& _Row : CommandRows()) {
    SCOPED_TRACE(_Row.sWord);
    // Every row --do refuses is one only the person at the console gives.
    if (_Row.sNotForDo != nullptr) {
      EXPECT_TRUE(_Row.bLocalOnly);
    }
    EXPECT_EQ(_Row.bNeedsDevice, !_Row.bLocalOnly);
  }
}

// Every row can be found by its own word, and help lists every row.
TEST(CommandTableTest, HelpListsEveryRow) {
  char* pText = nullptr;
  size_t iSize = 0;
  FILE* pFile = open_memstream(&pText, &iSize);
  ASSERT_NE(nullptr, pFile);
  PrintCommands(pFile);
  fclose(pFile);
  std::string sHelp(pText, iSize);
  free(pText);
  for (const CommandRow& _Row : CommandRows()) {
    SCOPED_TRACE(_Row.sWord);
    EXPECT_NE(std::string::npos, sHelp.find(std::string("  ") + _Row.sSyntax))
        << sHelp;
    EXPECT_NE(std::string::npos, sHelp.find(_Row.sHelp));
  }
  EXPECT_NE(std::string::npos,
            sHelp.find("\n  N call SERVICE ACTION [NAME=VALUE]...\n"
                       "             send any action"))
      << sHelp;
}

}  // namespace
