// The layout of the full-screen view: a plain function of the view's copy of
// the home, the view's state and the terminal's size, giving a grid of cells
// with roles. Nothing here knows the terminal; the terminal file maps the
// roles to attributes and draws the grid.
//
// The frame: a header line (the unit, how it is reached, the connection
// state, the age of the last reply), the body (the list of rows grouped
// under their rooms, the detail page of one device, or the keys page), the
// message line and the key line. Only the rows on screen are formatted, so
// a frame costs the same for any size of home.
//
// Text from the unit is escaped (engine/terminal_text.h) and placed by its
// display width (wcwidth, so the locale's LC_CTYPE must be UTF-8 for
// characters beyond ASCII to count right); a text too long is cut with an
// ellipsis.
// Threads: pure functions, any thread (the caller holds whatever guards the
//   model and the view).
#ifndef VERU_CONSOLE_SCREEN_SCREEN_LAYOUT_H
#define VERU_CONSOLE_SCREEN_SCREEN_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "console/screen/screen_model.h"
#include "console/screen/screen_view.h"

// What a cell shows; the terminal file gives each role its attributes.
enum class ScreenRole {
  kPlain,
  kHeader,    // the header line
  kRoom,      // a room's (or the scenes') heading
  kSelected,  // the selected row
  kChanged,   // a row changed a moment ago
  kOn,        // the state of a device that is on
  kOff,       // the state of a device that is off
  kActive,    // an active scene's mark
  kMuted,     // placeholders and hints
  kMessage,   // the message line
  kInput,     // a line being typed
  kKeys,      // the key line
  kWarning,   // the terminal is too small
};

struct ScreenCell {
  // One character (with any combining marks after it) in UTF-8; empty for
  // the right half of a double-width character.
  std::string m_sText = " ";
  ScreenRole m_eRole = ScreenRole::kPlain;
};

struct ScreenFrame {
  int m_iWidth = 0;
  int m_iHeight = 0;
  std::vector<ScreenCell> m_vecCells;  // row by row, m_iWidth per row
  // Where the hardware cursor goes: the selected row, or the end of the
  // line being typed.
  int m_iCursorRow = 0;
  int m_iCursorColumn = 0;
  // Lines of the body (the keys PgUp and PgDn move by them).
  int m_iBodyRows = 0;
  // The first body row as laid out: the view keeps it for the next frame.
  ScreenRowKey m_TopKey;

  const ScreenCell& At(int iRow, int iColumn) const {
    return m_vecCells[static_cast<size_t>(iRow * m_iWidth + iColumn)];
  }
  // A row's text, the spaces at its end cut.
  std::string RowText(int iRow) const;
  // Every row's text, one line each.
  std::string Text() const;
};

// The smallest terminal the view fits in; below it the frame says so.
constexpr int kScreenMinWidth = 30;
constexpr int kScreenMinHeight = 6;
// How long a changed row stays highlighted.
constexpr int64_t kScreenChangedMs = 3000;

ScreenFrame ScreenLayout(const ScreenModel& _Model, const ScreenView& _View,
                         int iWidth, int iHeight, int64_t tNowMs);

// The text of the state column for a device, as wide as iWidth columns at
// most, and its role (on, off or plain): on or off and the level as
// DeviceStateOf (console/report/device_state.h) reads them; a device with
// neither shows its first variables, as many as fit, never one whose name
// says it is a secret (the detail page shows those masked). Raw text from
// the unit, not yet escaped.
std::string ScreenStateText(const ScreenDevice& _Device, int iWidth,
                            ScreenRole* pRole);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_LAYOUT_H
