// QuietTerminal turns a terminal's echo off for as long as it lives, so a
// typed password does not show, and puts the terminal's settings back when
// it goes -- also when a signal (Ctrl-C, a hang-up, a kill) ends the
// program while the echo is off, which would otherwise leave the user's
// shell without echo.
//
// Threads: console thread only, one object at a time. The signal handlers
// it installs may run on any thread; they only restore the settings and
// end the program with the signal's default action.
#ifndef VERU_CONSOLE_QUIET_TERMINAL_H
#define VERU_CONSOLE_QUIET_TERMINAL_H

#include <signal.h>
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
  static constexpr int kSignals[4] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

  int m_iFile;  // -1 when nothing was changed
  struct termios m_Saved;
  struct sigaction m_OldActions[4];
  bool m_bHandled[4];  // the handler was installed for kSignals[i]
};

#endif  // VERU_CONSOLE_QUIET_TERMINAL_H
