// The keys of the full-screen view: one table of key, action and help text.
// The view dispatches every key through it, the "?" page lists it, and the
// key line at the foot of the screen shows its short labels.
//
// Keys are the view's own codes: a character is its byte value (Enter is
// '\n', Esc 27, Ctrl-L 12); the arrows and page keys are the kKey* codes
// below, which the terminal file maps from what the terminal sends.
// Threads: constant data and pure functions, any thread.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_KEYS_H
#define VERU_CONSOLE_SCREEN_SCREEN_KEYS_H

#include <string>
#include <vector>

enum ScreenKeyCode {
  kKeyEscape = 27,
  kKeyRedraw = 12,  // Ctrl-L
  kKeyBackspace = 127,
  kKeyUp = 0x110001,  // past every Unicode character
  kKeyDown,
  kKeyLeft,
  kKeyRight,
  kKeyPageUp,
  kKeyPageDown,
  kKeyHome,
  kKeyEnd,
  kKeyResize,  // the terminal changed its size
};

enum class ScreenAction {
  kNone,
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kFirst,
  kLast,
  kToggle,
  kDimUp,
  kDimDown,
  kPoll,
  kDetail,
  kBack,
  kFilter,
  kCommand,
  kKeys,
  kRedraw,
  kQuit,
};

struct ScreenKeyBinding {
  int iKey;
  const char* sKeyName;  // as the "?" page shows it
  ScreenAction eAction;
  const char* sHelp;   // what the action does; null on the action's later keys
  const char* sLabel;  // the key line's label; null: not on the key line
  // The label on the detail and keys pages; null: not on their key line.
  const char* sPageLabel;
};

// Every binding, in the order the "?" page lists them.
const std::vector<ScreenKeyBinding>& ScreenKeyTable();

// The action of a key in the list and detail pages; kNone for a key the
// table does not hold.
ScreenAction ScreenActionOf(int iKey);

// The "?" page: one line per action, its keys and its help text.
std::vector<std::string> ScreenKeyHelpLines();

// The key line: the labels, two spaces apart (bPage: those of the detail
// and keys pages).
std::string ScreenKeyLine(bool bPage);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_KEYS_H
