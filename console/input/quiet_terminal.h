// QuietTerminal turns a terminal's echo off for as long as it lives, so a
// typed password does not show, and puts the terminal's settings back when
// it goes -- also when a signal ends the program while the echo is off
// (through a stop step, see program_end.h), which would otherwise leave the
// user's shell without echo.
//
// Threads: console thread only, one object at a time. Its stop step may run
// on the signal thread; it only restores the settings.
#ifndef VERU_CONSOLE_INPUT_QUIET_TERMINAL_H
#define VERU_CONSOLE_INPUT_QUIET_TERMINAL_H

#include <termios.h>

class QuietTerminal {
 public:
  // iFile: the input to quieten. Does nothing when it is not a terminal or
  // its settings cannot be changed.
  explicit QuietTerminal(int iFile);
  ~QuietTerminal();
  QuietTerminal(const QuietTerminal&) = delete;
  QuietTerminal& operator=(const QuietTerminal&) = delete;

 private:
  int m_iFile;  // -1 when nothing was changed
  struct termios m_Saved;
  int m_iStopStep;  // the stop step that restores m_Saved, or 0
};

#endif  // VERU_CONSOLE_INPUT_QUIET_TERMINAL_H
