#include "console/input/quiet_terminal.h"

#include <unistd.h>

#include "console/program_end.h"

QuietTerminal::QuietTerminal(int iFile) : m_iFile(-1), m_iStopStep(0) {
  if (iFile < 0 || !isatty(iFile) || tcgetattr(iFile, &m_Saved) != 0) return;
  struct termios _Saved = m_Saved;
  m_iStopStep = AddStopStep(
      [iFile, _Saved] { tcsetattr(iFile, TCSANOW, &_Saved); });
  struct termios _Quiet = m_Saved;
  _Quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(iFile, TCSANOW, &_Quiet) == 0) m_iFile = iFile;
}

QuietTerminal::~QuietTerminal() {
  if (m_iFile >= 0) tcsetattr(m_iFile, TCSANOW, &m_Saved);
  if (m_iStopStep != 0) RemoveStopStep(m_iStopStep);
}
