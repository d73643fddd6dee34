// Text into the cells of a frame: what the layout writes goes through
// ScreenRowWriter, which escapes the unit's control bytes, measures
// characters by their display width (wcwidth: double-width characters take
// two cells, combining marks join the character before them), writes bytes
// that are no valid UTF-8, and characters the terminal cannot show, as
// "\xNN" escapes, and cuts a text too long with an ellipsis.
// Threads: none of its own; a writer is used by one thread on one frame.
// Ownership: the writer borrows the frame.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_CELLS_H
#define VERU_CONSOLE_SCREEN_SCREEN_CELLS_H

#include <string>
#include <string_view>

#include "console/screen/screen_layout.h"

class ScreenRowWriter {
 public:
  ScreenRowWriter(ScreenFrame* pFrame, int iRow) : m_pFrame(pFrame), m_iRow(iRow) {}

  // Gives the cells from iColumn on, iWidth of them, the role.
  void Fill(int iColumn, int iWidth, ScreenRole eRole);
  // Writes sText (raw text: its control bytes are escaped here) at iColumn,
  // in iWidth columns at most, cut with an ellipsis when longer. Returns
  // the columns used.
  int Put(int iColumn, int iWidth, std::string_view sText, ScreenRole eRole);
  // Writes a number right-aligned in iWidth columns.
  void PutNumber(int iColumn, int iWidth, int iNumber, ScreenRole eRole);

 private:
  ScreenCell& Cell(int iColumn);
  // The text of the last cell before iColumn that holds a character.
  std::string& LastText(int iColumn);

  ScreenFrame* m_pFrame;
  int m_iRow;
};

// The display width of raw text from the unit, escaped as it is drawn.
int ScreenTextWidth(std::string_view sText);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_CELLS_H
