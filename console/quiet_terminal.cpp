#include "console/quiet_terminal.h"

#include <unistd.h>

namespace {

// The terminal whose echo is off and its settings before, for the signal
// handler. Written only while no handler is installed.
volatile sig_atomic_t g_iQuietFile = -1;
struct termios g_SavedSettings;

void RestoreAndRaise(int iSignal) {
  int iFile = g_iQuietFile;
  if (iFile >= 0) tcsetattr(iFile, TCSANOW, &g_SavedSettings);
  // The default action ends the program once this handler returns and the
  // signal is unblocked.
  signal(iSignal, SIG_DFL);
  raise(iSignal);
}

}  // namespace

QuietTerminal::QuietTerminal(int iFile) : m_iFile(-1), m_bHandled() {
  if (iFile < 0 || !isatty(iFile) || tcgetattr(iFile, &m_Saved) != 0) return;
  g_SavedSettings = m_Saved;
  g_iQuietFile = iFile;
  for (int i = 0; i < 4; ++i) {
    // A signal the program ignores, or handles itself, is left alone.
    if (sigaction(kSignals[i], nullptr, &m_OldActions[i]) != 0 ||
        m_OldActions[i].sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction _Action = {};
    _Action.sa_handler = RestoreAndRaise;
    sigemptyset(&_Action.sa_mask);
    m_bHandled[i] = sigaction(kSignals[i], &_Action, nullptr) == 0;
  }
  struct termios _Quiet = m_Saved;
  _Quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(iFile, TCSANOW, &_Quiet) == 0) m_iFile = iFile;
}

QuietTerminal::~QuietTerminal() {
  if (m_iFile >= 0) tcsetattr(m_iFile, TCSANOW, &m_Saved);
  for (int i = 0; i < 4; ++i) {
    if (m_bHandled[i]) sigaction(kSignals[i], &m_OldActions[i], nullptr);
  }
  g_iQuietFile = -1;
}
