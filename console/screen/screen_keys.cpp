// The key table of the full-screen view and the texts made from it.
#include "console/screen/screen_keys.h"

const std::vector<ScreenKeyBinding>& ScreenKeyTable() {
  static const std::vector<ScreenKeyBinding> kTable = {
      {kKeyUp, "Up", ScreenAction::kUp, "select the row above", nullptr,
       nullptr},
      {'k', "k", ScreenAction::kUp, nullptr, nullptr, nullptr},
      {kKeyDown, "Down", ScreenAction::kDown, "select the row below",
       "\xe2\x86\x91\xe2\x86\x93 move", "\xe2\x86\x91\xe2\x86\x93 scroll"},
      {'j', "j", ScreenAction::kDown, nullptr, nullptr, nullptr},
      {kKeyPageUp, "PgUp", ScreenAction::kPageUp, "one page up", nullptr,
       nullptr},
      {kKeyPageDown, "PgDn", ScreenAction::kPageDown, "one page down",
       nullptr, nullptr},
      {kKeyHome, "Home", ScreenAction::kFirst, "the first row", nullptr,
       nullptr},
      {kKeyEnd, "End", ScreenAction::kLast, "the last row", nullptr, nullptr},
      {' ', "Space", ScreenAction::kToggle,
       "switch the device on or off (opposite of its row); run a scene",
       "Space on/off", "Space on/off"},
      {'+', "+", ScreenAction::kDimUp, "dim up by 10 %", "+/- dim", "+/- dim"},
      {'-', "-", ScreenAction::kDimDown, "dim down by 10 %", nullptr, nullptr},
      {'p', "p", ScreenAction::kPoll, "ask the device to poll its hardware",
       nullptr, "p poll"},
      {'\n', "Enter", ScreenAction::kDetail,
       "everything about the device (a camera's URLs too)", "Enter detail",
       nullptr},
      {kKeyRight, "Right", ScreenAction::kDetail, nullptr, nullptr, nullptr},
      {kKeyEscape, "Esc", ScreenAction::kBack,
       "back to the list; in the list, clear the filter", nullptr, "Esc back"},
      {kKeyLeft, "Left", ScreenAction::kBack, nullptr, nullptr, nullptr},
      {'/', "/", ScreenAction::kFilter,
       "show only the rows whose name holds a text (any case)", "/ filter",
       nullptr},
      {':', ":", ScreenAction::kCommand,
       "a console command (5 dim 30, 7 stream, suspend, show 5, ...)",
       ": cmd", ": cmd"},
      {'?', "?", ScreenAction::kKeys, "this list of keys", "? keys", nullptr},
      {kKeyRedraw, "Ctrl-L", ScreenAction::kRedraw, "draw the screen anew",
       nullptr, nullptr},
      {'q', "q", ScreenAction::kQuit, "quit at once", "q quit", "q quit"},
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
    sKeys.resize(sKeys.size() < 14 ? 14 : sKeys.size() + 1, ' ');
    vecLines.push_back(sKeys + vecTable[i].sHelp);
  }
  return vecLines;
}

std::string ScreenKeyLine(bool bPage) {
  std::string sLine;
  for (const ScreenKeyBinding& _Binding : ScreenKeyTable()) {
    const char* sLabel = bPage ? _Binding.sPageLabel : _Binding.sLabel;
    if (sLabel == nullptr) continue;
    if (!sLine.empty()) sLine += "  ";
    sLine += sLabel;
  }
  return sLine;
}
