// The command table and the reading of a command line (see command_table.h).
#include "console/commands/command_table.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "console/history/history_query.h"
#include "console/number_text.h"
#include "engine/terminal_text.h"
#include "engine/url_escape.h"

namespace {

// The load level of a "dim" without a number after it.
constexpr int kDefaultDimLevel = 50;

// How many devices an answer about a name lists at most.
constexpr size_t kMostCandidates = 8;

const char kCallSyntax[] = "N call SERVICE ACTION [NAME=VALUE]...";

const std::vector<CommandRow> kRows = {
    {"on", nullptr, WordMatch::kSubstring, true, CommandKind::kAction,
     "urn:upnp-org:serviceId:SwitchPower1", "SetTarget", "newTargetValue=1",
     false, "N on", "switch device N on", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"off", nullptr, WordMatch::kSubstring, true, CommandKind::kAction,
     "urn:upnp-org:serviceId:SwitchPower1", "SetTarget", "newTargetValue=0",
     false, "N off", "switch device N off", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"dim", nullptr, WordMatch::kSubstring, true, CommandKind::kAction,
     "urn:upnp-org:serviceId:Dimming1", "SetLoadLevelTarget",
     "newLoadlevelTarget=", true, "N dim [X]",
     "dim device N to X % (0-100; 50 without X)", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"poll", nullptr, WordMatch::kSubstring, true, CommandKind::kAction,
     "urn:lumenhollow-com:serviceId:HaDevice1", "Poll", "", false, "N poll",
     "ask device N to poll its hardware", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"image", nullptr, WordMatch::kSubstring, true, CommandKind::kCameraImage,
     nullptr, nullptr, nullptr, false, "N image",
     "print the URL of camera N's still image", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"stream", nullptr, WordMatch::kSubstring, true,
     CommandKind::kCameraStream, nullptr, nullptr, nullptr, false, "N stream",
     "print the URL of camera N's video stream", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"call", nullptr, WordMatch::kWord, true, CommandKind::kCall, nullptr,
     nullptr, nullptr, false, kCallSyntax,
     "send any action of any service to device N (SERVICE and ACTION: "
     "letters, digits and : . _ -; each NAME=VALUE an argument)",
     nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"show", nullptr, WordMatch::kWord, false, CommandKind::kShow, nullptr,
     nullptr, nullptr, false, "show", "print the whole home as it is known now",
     "show N", "print device N",
     "the model is not fetched with --do (use --once for the report)", true,
     nullptr, CommandNext::kGoOn},
    {"scene", nullptr, WordMatch::kWord, false, CommandKind::kScene, nullptr,
     nullptr, nullptr, false, "scene N", "run scene N", nullptr, nullptr,
     nullptr, false, nullptr, CommandNext::kGoOn},
    {"history", nullptr, WordMatch::kWord, false, CommandKind::kHistory,
     nullptr, nullptr, nullptr, false, "history [DEVICE] [SPAN]",
     "the recorded changes of DEVICE (a number or a whole name) or of the "
     "whole home over the last SPAN (45s, 30m, 6h, 7d; default 24h), oldest "
     "first",
     nullptr, nullptr, nullptr, true, nullptr, CommandNext::kGoOn},
    {"suspend", nullptr, WordMatch::kSubstring, false, CommandKind::kSuspend,
     nullptr, nullptr, nullptr, false, "suspend",
     "pause polling (commands still work)", nullptr, nullptr,
     "there is no polling to pause or resume with --do", true,
     "Polling suspended (:resume goes on)", CommandNext::kGoOn},
    {"resume", nullptr, WordMatch::kSubstring, false, CommandKind::kResume,
     nullptr, nullptr, nullptr, false, "resume", "resume polling", nullptr,
     nullptr,
     "there is no polling to pause or resume with --do", true,
     "Polling resumed", CommandNext::kGoOn},
    {"connect", nullptr, WordMatch::kSubstring, false, CommandKind::kConnect,
     nullptr, nullptr, nullptr, false, "connect",
     "run the connection wizard again", nullptr, nullptr,
     "the wizard reads standard input (run veru-console without --do)",
     true, nullptr, CommandNext::kWizard},
    {"help", "?", WordMatch::kWord, false, CommandKind::kHelp, nullptr, nullptr,
     nullptr, false, "help, ?", "list these commands", nullptr, nullptr,
     nullptr, true, nullptr, CommandNext::kGoOn},
    {"quit", nullptr, WordMatch::kWholeLine, false, CommandKind::kQuit,
     nullptr, nullptr, nullptr, false, "quit", "end the program", nullptr,
     nullptr,
     "--do ends by itself", true, nullptr, CommandNext::kQuit},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The blank-separated words of sText from iFrom on.
std::vector<std::string> SplitWords(const std::string& sText, size_t iFrom) {
  std::vector<std::string> vecWords;
  size_t i = iFrom;
  for (;;) {
    while (i < sText.size() && IsBlank(sText[i])) ++i;
    if (i >= sText.size()) return vecWords;
    size_t iStart = i;
    while (i < sText.size() && !IsBlank(sText[i])) ++i;
    vecWords.push_back(sText.substr(iStart, i - iStart));
  }
}

std::string Lower(const std::string& sText) {
  std::string sLower = sText;
  for (char& c : sLower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return sLower;
}

// The words after a dim command's word, blanks around them dropped.
std::string TextAfter(const std::string& sText, size_t iFrom) {
  size_t iStart = sText.find_first_not_of(" \t\r", iFrom);
  if (iStart == std::string::npos) return "";
  size_t iEnd = sText.find_last_not_of(" \t\r");
  return sText.substr(iStart, iEnd + 1 - iStart);
}

// The load level of a dim command from what follows its word: 50 when
// nothing does, else a whole number from 0 to 100 with no sign, or false
// with the reason in *pError.
bool DimLevel(const std::string& sAfterWord, int* pLevel, std::string* pError) {
  if (sAfterWord.empty()) {
    *pLevel = kDefaultDimLevel;
    return true;
  }
  // The level is the whole word: no sign, no unit, nothing after it.
  *pLevel = PercentNumber(sAfterWord);
  if (*pLevel >= 0) return true;
  *pError = "Not a level: " + Veru::EscapeControlBytes(sAfterWord) +
            " (a whole number from 0 to 100; nothing sent)";
  return false;
}

std::string UnknownCommand(const std::string& sLine) {
  return "Unknown command: " + Veru::EscapeControlBytes(sLine) + "; type help";
}

bool WordIs(const CommandRow& _Row, const std::string& sWord) {
  return sWord == _Row.sWord ||
         (_Row.sAlias != nullptr && sWord == _Row.sAlias);
}

// The whole-word row for the command word of a line; null when none.
// "history [DEVICE] [SPAN]": the words after "history" are kept for the run;
// a span that cannot be read makes the line no command.
void ReadHistoryLine(const std::string& sLine, const CommandRow* pRow,
                     CommandLine* pCommand) {
  std::string sRest = sLine.substr(sLine.find(pRow->sWord) +
                                   strlen(pRow->sWord));
  std::string sDevice;
  int64_t iSpan = 0;
  if (!ReadHistoryArguments(sRest, &sDevice, &iSpan, &pCommand->sError)) {
    pCommand->sError += "; usage: " + std::string(pRow->sSyntax);
    return;
  }
  pCommand->pRow = pRow;
  pCommand->sShowWhat = sRest;
}

const CommandRow* FindWordRow(const std::string& sWord) {
  for (const CommandRow& _Row : kRows) {
    if (_Row.eMatch == WordMatch::kWord && WordIs(_Row, sWord)) return &_Row;
  }
  return nullptr;
}

// The first substring row found in sText (device rows only when bDevice,
// the others only when bOthers); null when none.
const CommandRow* FindSubstringRow(const std::string& sText, bool bDevice,
                                   bool bOthers) {
  for (const CommandRow& _Row : kRows) {
    if (_Row.eMatch != WordMatch::kSubstring) continue;
    if (_Row.bNeedsDevice ? !bDevice : !bOthers) continue;
    if (sText.find(_Row.sWord) != std::string::npos) return &_Row;
  }
  return nullptr;
}

// The words of a call into *pCommand, or the reason it is refused.
void ReadCallWords(const std::vector<std::string>& vecWords,
                   CommandLine* pCommand) {
  const std::string sUsage = std::string("usage: ") + kCallSyntax;
  if (vecWords.size() < 3) {
    pCommand->sError = "call needs a service and an action; " + sUsage;
    return;
  }
  for (size_t i = 1; i <= 2; ++i) {
    if (IsCallName(vecWords[i])) continue;
    pCommand->sError = std::string(i == 1 ? "Not a service: " : "Not an action: ") +
                       Veru::EscapeControlBytes(vecWords[i]) +
                       " (letters, digits and : . _ - only)";
    return;
  }
  std::vector<std::string> vecArguments(vecWords.begin() + 3, vecWords.end());
  std::string sArguments;
  if (!EncodeCallArguments(vecArguments, &sArguments, &pCommand->sError)) return;
  pCommand->sService = vecWords[1];
  pCommand->sAction = vecWords[2];
  pCommand->sArguments = sArguments;
  for (const CommandRow& _Row : kRows) {
    if (_Row.eKind == CommandKind::kCall) pCommand->pRow = &_Row;
  }
}

// "call SERVICE ACTION [NAME=VALUE]..." for the device in *pCommand,
// vecWords starting at the word "call". A refused call names no device, so
// no result line is printed for it: the answer is on standard error.
void ReadCall(const std::vector<std::string>& vecWords, CommandLine* pCommand) {
  ReadCallWords(vecWords, pCommand);
  if (pCommand->pRow == nullptr) pCommand->iDevice = 0;
}

// The device command in sText (the line after the device's number or
// name, iFrom where its command word may start) for device iDevice: a
// call, or the first device row found. False when there is none.
bool ReadDeviceCommand(const std::string& sText, size_t iFrom, int iDevice,
                       CommandLine* pCommand) {
  pCommand->iDevice = iDevice;
  std::vector<std::string> vecWords = SplitWords(sText, iFrom);
  if (!vecWords.empty() && vecWords[0] == "call") {
    ReadCall(vecWords, pCommand);
    return true;
  }
  const CommandRow* pRow = FindSubstringRow(sText, true, false);
  if (pRow == nullptr) return false;
  pCommand->pRow = pRow;
  if (pRow->eKind == CommandKind::kAction) {
    pCommand->sService = pRow->sService;
    pCommand->sAction = pRow->sAction;
    pCommand->sArguments = pRow->sArgument;
    if (pRow->bTakesLevel) {
      size_t iWord = sText.find(pRow->sWord);
      int iLevel = 0;
      std::string sAfter = TextAfter(sText, iWord + strlen(pRow->sWord));
      if (!DimLevel(sAfter, &iLevel, &pCommand->sError)) {
        // Refused whole: no row, no device, so nothing is sent.
        pCommand->bRefused = true;
        pCommand->pRow = nullptr;
        pCommand->iDevice = 0;
        pCommand->sService.clear();
        pCommand->sAction.clear();
        pCommand->sArguments.clear();
        return true;
      }
      pCommand->sArguments += std::to_string(iLevel);
    }
  }
  return true;
}

// "scene N": N a scene number (decimal digits, 1 to the 32-bit limit).
void ReadScene(const std::vector<std::string>& vecWords, const CommandRow* pRow,
               CommandLine* pCommand) {
  long long iScene = 0;
  bool bNumber = vecWords.size() == 2 && !vecWords[1].empty() &&
                 vecWords[1].size() <= 10;
  for (size_t i = 0; bNumber && i < vecWords[1].size(); ++i) {
    char c = vecWords[1][i];
    bNumber = c >= '0' && c <= '9';
    iScene = iScene * 10 + (c - '0');
  }
  if (!bNumber || iScene < 1 || iScene > INT_MAX) {
    pCommand->sError = std::string("scene needs a scene number; usage: ") +
                       pRow->sSyntax;
    return;
  }
  pCommand->pRow = pRow;
  pCommand->iScene = static_cast<int>(iScene);
}

// The devices whose names hold sTyped (case-insensitive), as "N NAME, ...".
std::string Candidates(const std::string& sTyped,
                       const std::vector<DeviceName>& vecNames) {
  std::string sLower = Lower(sTyped);
  std::string sList;
  size_t iCount = 0;
  for (const DeviceName& _Name : vecNames) {
    if (Lower(_Name.second).find(sLower) == std::string::npos) continue;
    if (++iCount > kMostCandidates) {
      sList += ", ...";
      break;
    }
    if (!sList.empty()) sList += ", ";
    sList += std::to_string(_Name.first) + " " +
             Veru::EscapeControlBytes(_Name.second);
  }
  return sList;
}

// A line with no number: a device's name, then a device command.
void ReadNamedCommand(const std::string& sLine,
                      const std::vector<DeviceName>& vecNames,
                      CommandLine* pCommand) {
  size_t iStart = 0;
  while (iStart < sLine.size() && IsBlank(sLine[iStart])) ++iStart;
  std::string sLower = Lower(sLine.substr(iStart));
  // The longest name that the line begins with, ended by a blank or the
  // line's end; every device of that name.
  size_t iLongest = 0;
  std::vector<const DeviceName*> vecFits;
  for (const DeviceName& _Name : vecNames) {
    size_t iLength = _Name.second.size();
    if (iLength == 0 || iLength < iLongest || iLength > sLower.size()) continue;
    if (sLower.compare(0, iLength, Lower(_Name.second)) != 0) continue;
    if (iLength < sLower.size() && !IsBlank(sLower[iLength])) continue;
    if (iLength > iLongest) vecFits.clear();
    iLongest = iLength;
    vecFits.push_back(&_Name);
  }
  if (vecFits.size() == 1) {
    std::string sRest = sLine.substr(iStart + iLongest);
    if (!ReadDeviceCommand(sRest, 0, vecFits[0]->first, pCommand)) {
      pCommand->iDevice = 0;
      pCommand->sError = UnknownCommand(sLine);
    }
    return;
  }
  if (vecFits.size() > 1) {
    std::string sNumbers;
    for (const DeviceName* pName : vecFits) {
      if (!sNumbers.empty()) sNumbers += ", ";
      sNumbers += std::to_string(pName->first);
    }
    pCommand->sError = "More than one device is named \"" +
                       Veru::EscapeControlBytes(vecFits[0]->second) +
                       "\": " + sNumbers + "; use the number";
    return;
  }
  // No name fits: is a command word there, after what would be the name?
  std::vector<std::string> vecWords = SplitWords(sLine, 0);
  for (size_t i = 1; i < vecWords.size(); ++i) {
    const CommandRow* pRow = FindWordRow(vecWords[i]);
    bool bDeviceWord = pRow != nullptr && pRow->bNeedsDevice;
    for (const CommandRow& _Row : kRows) {
      if (_Row.eMatch == WordMatch::kSubstring && _Row.bNeedsDevice &&
          vecWords[i] == _Row.sWord) {
        bDeviceWord = true;
      }
    }
    if (!bDeviceWord) continue;
    std::string sTyped;
    for (size_t j = 0; j < i; ++j) sTyped += (j == 0 ? "" : " ") + vecWords[j];
    std::string sList = Candidates(sTyped, vecNames);
    pCommand->sError = "No device named \"" + Veru::EscapeControlBytes(sTyped) +
                       "\"" +
                       (sList.empty() ? "; type show to see the devices"
                                      : "; devices with that in their name: " +
                                            sList);
    return;
  }
  pCommand->sError = UnknownCommand(sLine);
}

}  // namespace

const std::vector<CommandRow>& CommandRows() { return kRows; }

bool ReportsResult(const CommandRow& _Row) {
  return _Row.bNeedsDevice || _Row.eKind == CommandKind::kScene;
}

bool CommandOutcome::Succeeded() const {
  if (!bCommand || !sError.empty()) return false;
  if (ReportsResult(*pRow)) return _Result.Succeeded();
  return true;
}

CommandLine ReadCommandLine(const std::string& sLine,
                            const std::vector<DeviceName>* pNames) {
  CommandLine _Command;
  _Command.sLine = sLine;
  std::vector<std::string> vecWords = SplitWords(sLine, 0);
  if (vecWords.empty()) return _Command;

  // The device number: a leading integer beyond 32 bits is refused.
  NumberText _Number = ReadNumberText(sLine);
  size_t iAfterNumber = _Number.iEnd;
  if (_Number.bDigits && !NumberInRange(_Number, INT_MIN, INT_MAX)) {
    _Command.sError = "Not a device number: " +
                      sLine.substr(0, iAfterNumber) +
                      " (out of the 32-bit range)";
    return _Command;
  }
  bool bNumber = _Number.bDigits;
  int iDevice = static_cast<int>(_Number.iValue);

  // Whole words first: "quit" as the line, a word of its own at the command
  // word's place.
  for (const CommandRow& _Row : kRows) {
    if (_Row.eMatch == WordMatch::kWholeLine && WordIs(_Row, sLine)) {
      _Command.pRow = &_Row;
      return _Command;
    }
  }
  if (bNumber) {
    std::vector<std::string> vecAfter = SplitWords(sLine, iAfterNumber);
    if (!vecAfter.empty() && vecAfter[0] == "call") {
      if (iDevice == 0) {
        _Command.sError = std::string("call needs a device number other "
                                      "than 0; usage: ") + kCallSyntax;
        return _Command;
      }
      _Command.iDevice = iDevice;
      ReadCall(vecAfter, &_Command);
      return _Command;
    }
  } else if (const CommandRow* pRow = FindWordRow(vecWords[0])) {
    if (pRow->bNeedsDevice) {
      _Command.sError = std::string(pRow->sWord) +
                        " needs a device number first; usage: " +
                        pRow->sSyntax;
      return _Command;
    }
    if (pRow->eKind == CommandKind::kScene) {
      ReadScene(vecWords, pRow, &_Command);
      return _Command;
    }
    if (pRow->eKind == CommandKind::kHistory) {
      ReadHistoryLine(sLine, pRow, &_Command);
      return _Command;
    }
    size_t iMostWords = pRow->eKind == CommandKind::kShow ? 2 : 1;
    if (vecWords.size() > iMostWords) {
      _Command.sError = UnknownCommand(sLine);
      return _Command;
    }
    _Command.pRow = pRow;
    if (vecWords.size() == 2) _Command.sShowWhat = vecWords[1];
    return _Command;
  }

  // The substring words that need no device, anywhere in the line.
  if (const CommandRow* pRow = FindSubstringRow(sLine, false, true)) {
    _Command.pRow = pRow;
    return _Command;
  }
  if (bNumber) {
    if (iDevice == 0) {
      _Command.sError = UnknownCommand(sLine);
      return _Command;
    }
    // A device number alone is answered with its result line only.
    if (!ReadDeviceCommand(sLine, iAfterNumber, iDevice, &_Command) &&
        !SplitWords(sLine, iAfterNumber).empty()) {
      _Command.sError = UnknownCommand(sLine);
    }
    return _Command;
  }
  // A line with no number can be a command only when a device's name
  // comes before a device command's word; with none of those words in it,
  // no name need be looked up.
  if (FindSubstringRow(sLine, true, false) == nullptr &&
      std::find(vecWords.begin(), vecWords.end(), "call") == vecWords.end()) {
    _Command.sError = UnknownCommand(sLine);
    return _Command;
  }
  if (pNames == nullptr) {
    _Command.bNeedsNames = true;
    return _Command;
  }
  ReadNamedCommand(sLine, *pNames, &_Command);
  return _Command;
}

void PrintCommands(FILE* pFile) {
  auto PrintLine = [pFile](const char* sSyntax, const char* sHelp) {
    // A long syntax gets a line of its own, the effect under it.
    if (strlen(sSyntax) > 10) {
      fprintf(pFile, "  %s\n  %-10s %s\n", sSyntax, "", sHelp);
    } else {
      fprintf(pFile, "  %-10s %s\n", sSyntax, sHelp);
    }
  };
  for (const CommandRow& _Row : kRows) {
    PrintLine(_Row.sSyntax, _Row.sHelp);
    if (_Row.sMoreSyntax != nullptr) PrintLine(_Row.sMoreSyntax, _Row.sMoreHelp);
  }
  fprintf(pFile,
          "  A device may also be named instead of numbered, as in "
          "\"kitchen light on\".\n");
}

bool EncodeCallArguments(const std::vector<std::string>& vecWords,
                         std::string* pArguments, std::string* pError) {
  std::string sArguments;
  for (const std::string& sWord : vecWords) {
    size_t iEquals = sWord.find('=');
    if (iEquals == std::string::npos || iEquals == 0) {
      *pError = "Not an argument: " + Veru::EscapeControlBytes(sWord) +
                " (NAME=VALUE)";
      return false;
    }
    if (!sArguments.empty()) sArguments += "&";
    sArguments += Veru::EscapeURLComponent(sWord.substr(0, iEquals)) + "=" +
                  Veru::EscapeURLComponent(sWord.substr(iEquals + 1));
  }
  *pArguments = sArguments;
  return true;
}

bool IsCallName(const std::string& sName) {
  if (sName.empty()) return false;
  for (char c : sName) {
    bool bLetterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9');
    if (!bLetterOrDigit && c != ':' && c != '.' && c != '_' && c != '-') {
      return false;
    }
  }
  return true;
}
