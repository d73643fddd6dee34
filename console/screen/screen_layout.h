// The layout of the full-screen view: a plain function of the view's copy of
// the home, the view's state and the terminal's size, giving a grid of cells
// with roles. Nothing here knows the terminal; the terminal file maps the
// roles to attributes and draws the grid.
//
// The frame: a header line (the unit, "OFFLINE" while it does not answer,
// the connection state, the filter in force, the age of the last reply,
// how the unit is reached), the body (the list of rows grouped
// under their rooms, the detail page of one device, or the keys page), the
// message line and the key line. A list row shows its device's state at a
// glance (screen_glance.h); "[more above]" and "[more below]" mark the
// ends of a list longer than the screen. Only the rows on screen are
// formatted, so a frame costs the same for any size of home.
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
  kAlarm,     // a sensor that is tripped
  kMore,      // the mark that rows continue above or below the screen
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
  // The body (rows 1 to m_iBodyRows) is drawn dim: the list while the unit
  // does not answer.
  bool m_bBodyDimmed = false;

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

// tNowMs: the steady clock (engine/clock.h NowMs), which the age of the
// last reply and the highlight of a change are measured on; tNow: seconds
// since the epoch, which the moments the unit reports are aged against.
ScreenFrame ScreenLayout(const ScreenModel& _Model, const ScreenView& _View,
                         int iWidth, int iHeight, int64_t tNowMs, int64_t tNow);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_LAYOUT_H
