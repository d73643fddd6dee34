// The key table of the full-screen view and the texts made from it.
#include "console/screen_keys.h"

const std::vector<ScreenKeyBinding>& ScreenKeyTable() {
  static const std::vector<ScreenKeyBinding> kTable = {
      {kKeyUp, "Up", ScreenAction::kUp, "select the row above", nullptr},
      {'k', "k", ScreenAction::kUp, nullptr, nullptr},
      {kKeyDown, "Down", ScreenAction::kDown, "select the row below",
       "\xe2\x86\x91\xe2\x86\x93 move"},
      {'j', "j", ScreenAction::kDown, nullptr, nullptr},
      {kKeyPageUp, "PgUp", ScreenAction::kPageUp, "one page up", nullptr},
      {kKeyPageDown, "PgDn", ScreenAction::kPageDown, "one page down",
       nullptr},
      {kKeyHome, "Home", ScreenAction::kFirst, "the first row", nullptr},
      {kKeyEnd, "End", ScreenAction::kLast, "the last row", nullptr},
      {' ', "Space", ScreenAction::kToggle,
       "switch the device on or off (the opposite of what it shows)",
       "Space on/off"},
      {'+', "+", ScreenAction::kDimUp, "dim up by 10 %", "+/- dim"},
      {'-', "-", ScreenAction::kDimDown, "dim down by 10 %", nullptr},
      {'p', "p", ScreenAction::kPoll, "ask the device to poll its hardware",
       nullptr},
      {'\n', "Enter", ScreenAction::kDetail,
       "everything about the device (a camera's URLs too)", "Enter detail"},
      {kKeyRight, "Right", ScreenAction::kDetail, nullptr, nullptr},
      {kKeyEscape, "Esc", ScreenAction::kBack,
       "back to the list; in the list, clear the filter", nullptr},
      {kKeyLeft, "Left", ScreenAction::kBack, nullptr, nullptr},
      {'/', "/", ScreenAction::kFilter,
       "show only the rows whose name holds a text (any case)", "/ filter"},
      {':', ":", ScreenAction::kCommand,
       "type a console command (5 dim 30, 7 stream, suspend, show 5, ...)",
       ": cmd"},
      {'?', "?", ScreenAction::kKeys, "this list of keys", "? keys"},
      {kKeyRedraw, "Ctrl-L", ScreenAction::kRedraw, "draw the screen anew",
       nullptr},
      {'q', "q", ScreenAction::kQuit, "quit at once", "q quit"},
  };
  return kTable;
}

ScreenAction ScreenActionOf(int iKey) {
  for (const ScreenKeyBinding& _Binding : ScreenKeyTable()) {
    if (_Binding.iKey == iKey) return _Binding.eAction;
  }
  return ScreenAction::kNone;
}

std::vector<std::string> ScreenKeyHelpLines() {
  std::vector<std::string> vecLines;
  const std::vector<ScreenKeyBinding>& vecTable = ScreenKeyTable();
  for (size_t i = 0; i < vecTable.size(); ++i) {
    if (vecTable[i].sHelp == nullptr) continue;
    std::string sKeys = vecTable[i].sKeyName;
    for (size_t j = 0; j < vecTable.size(); ++j) {
      if (j != i && vecTable[j].eAction == vecTable[i].eAction &&
          vecTable[j].sHelp == nullptr) {
        sKeys += std::string(", ") + vecTable[j].sKeyName;
      }
    }
    sKeys.resize(sKeys.size() < 12 ? 12 : sKeys.size() + 1, ' ');
    vecLines.push_back(sKeys + vecTable[i].sHelp);
  }
  return vecLines;
}

std::string ScreenKeyLine() {
  std::string sLine;
  for (const ScreenKeyBinding& _Binding : ScreenKeyTable()) {
    if (_Binding.sLabel == nullptr) continue;
    if (!sLine.empty()) sLine += "  ";
    sLine += _Binding.sLabel;
  }
  return sLine;
}
