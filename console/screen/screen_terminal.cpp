// The terminal of the full-screen view, through ncurses (wide characters).
// No other file includes the library's header.
#define NCURSES_WIDECHAR 1
#include "console/screen/screen_terminal.h"

#include <curses.h>
#include <fcntl.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/screen/screen_keys.h"
#include "console/screen/screen_output.h"

// term.h defines macros named like terminal capabilities; none is used here.
#undef lines
#undef columns

namespace {

// What a fatal signal's handler needs, saved by Open: the terminal's mode
// before, and the sequence that ends the full screen.
int g_iCrashOutput = -1;
struct termios g_CrashMode;
char g_cCrashEnd[64];
size_t g_iCrashEndLength = 0;

enum ColourPair { kGreen = 1, kCyan, kYellow, kRed };

bool NoColourAsked() {
  const char* sNoColour = getenv("NO_COLOR");
  return sNoColour != nullptr && sNoColour[0] != '\0';
}

attr_t Attributes(ScreenRole eRole, bool bColour) {
  auto Colour = [bColour](int iPair, attr_t iWithout) {
    return bColour ? static_cast<attr_t>(COLOR_PAIR(iPair)) : iWithout;
  };
  switch (eRole) {
    case ScreenRole::kHeader: return A_REVERSE | A_BOLD;
    case ScreenRole::kRoom: return A_BOLD | Colour(kCyan, A_UNDERLINE);
    case ScreenRole::kSelected: return A_REVERSE;
    case ScreenRole::kChanged: return A_BOLD | Colour(kYellow, A_UNDERLINE);
    case ScreenRole::kOn: return A_BOLD | Colour(kGreen, 0);
    case ScreenRole::kOff: return A_NORMAL;
    case ScreenRole::kActive: return A_BOLD | Colour(kGreen, 0);
    case ScreenRole::kMuted: return A_DIM;
    case ScreenRole::kMessage: return A_BOLD;
    case ScreenRole::kInput: return A_NORMAL;
    case ScreenRole::kKeys: return A_REVERSE;
    case ScreenRole::kWarning: return A_BOLD | Colour(kRed, A_REVERSE);
    case ScreenRole::kAlarm: return A_BOLD | Colour(kRed, 0);
    case ScreenRole::kMore: return A_BOLD;
    case ScreenRole::kPlain: break;
  }
  return A_NORMAL;
}

int ViewKey(int iResult, wint_t cKey) {
  if (iResult == KEY_CODE_YES) {
    switch (cKey) {
      case KEY_UP: return kKeyUp;
      case KEY_DOWN: return kKeyDown;
      case KEY_LEFT: return kKeyLeft;
      case KEY_RIGHT: return kKeyRight;
      case KEY_PPAGE: return kKeyPageUp;
      case KEY_NPAGE: return kKeyPageDown;
      case KEY_HOME: return kKeyHome;
      case KEY_END: return kKeyEnd;
      case KEY_ENTER: return '\n';
      case KEY_BACKSPACE: return kKeyBackspace;
      case KEY_RESIZE: return kKeyResize;
      default: return -1;
    }
  }
  if (cKey == '\r') return '\n';
  if (cKey == '\b') return kKeyBackspace;
  return static_cast<int>(cKey);
}

// A private copy of a descriptor, not inherited by the fetcher.
int PrivateCopy(int iFd) {
  return fcntl(iFd, F_DUPFD_CLOEXEC, 3);
}

}  // namespace

ScreenTerminal::~ScreenTerminal() { Close(); }

bool ScreenTerminal::Usable(std::string* pError) {
  // Standard output may be set aside already: the terminal is what it was.
  int iOutput = ScreenOutput::OutputFd();
  if (!isatty(STDIN_FILENO) || !isatty(iOutput)) {
    *pError = "--screen needs standard input and output on a terminal";
    return false;
  }
  const char* sType = getenv("TERM");
  int iError = 0;
  if (sType == nullptr || sType[0] == '\0' ||
      setupterm(sType, iOutput, &iError) != OK) {
    *pError = std::string("--screen does not know the terminal type '") +
              (sType == nullptr ? "" : sType) + "'";
    return false;
  }
  del_curterm(cur_term);
  return true;
}

bool ScreenTerminal::Open(std::string* pError) {
  if (!Usable(pError)) return false;
  m_iInput = PrivateCopy(STDIN_FILENO);
  m_iOutput = PrivateCopy(ScreenOutput::OutputFd());
  FILE* pIn = m_iInput < 0 ? nullptr : fdopen(m_iInput, "r");
  FILE* pOut = m_iOutput < 0 ? nullptr : fdopen(m_iOutput, "w");
  m_pInFile = pIn;
  m_pOutFile = pOut;
  if (pIn == nullptr || pOut == nullptr) {
    *pError = std::string("cannot copy the terminal's descriptors: ") + strerror(errno);
    Close();
    return false;
  }
  if (tcgetattr(m_iOutput, &g_CrashMode) == 0) g_iCrashOutput = m_iOutput;
  SCREEN* pScreen = newterm(nullptr, pOut, pIn);
  if (pScreen == nullptr) {
    *pError = "the terminal library cannot start on this terminal";
    Close();
    return false;
  }
  m_pScreen = pScreen;
  m_bOpen = true;
  set_term(pScreen);
  const char* sEnd = tigetstr("rmcup");
  g_iCrashEndLength = 0;
  if (sEnd != nullptr && sEnd != reinterpret_cast<char*>(-1) &&
      strlen(sEnd) < sizeof(g_cCrashEnd)) {
    g_iCrashEndLength = strlen(sEnd);
    memcpy(g_cCrashEnd, sEnd, g_iCrashEndLength);
  }
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  m_bColour = !NoColourAsked() && has_colors();
  if (m_bColour) {
    start_color();
    use_default_colors();
    init_pair(kGreen, COLOR_GREEN, -1);
    init_pair(kCyan, COLOR_CYAN, -1);
    init_pair(kYellow, COLOR_YELLOW, -1);
    init_pair(kRed, COLOR_RED, -1);
  }
  return true;
}

void ScreenTerminal::Close() {
  if (m_bOpen) {
    endwin();
    delscreen(static_cast<SCREEN*>(m_pScreen));
    m_pScreen = nullptr;
    m_bOpen = false;
  }
  g_iCrashOutput = -1;
  if (m_pInFile != nullptr) {
    fclose(static_cast<FILE*>(m_pInFile));
  } else if (m_iInput >= 0) {
    close(m_iInput);
  }
  if (m_pOutFile != nullptr) {
    fclose(static_cast<FILE*>(m_pOutFile));
  } else if (m_iOutput >= 0) {
    close(m_iOutput);
  }
  m_pInFile = m_pOutFile = nullptr;
  m_iInput = m_iOutput = -1;
}

void ScreenTerminal::ReadKeys(std::vector<int>* pKeys) {
  if (!m_bOpen) return;
  wint_t cKey = 0;
  int iResult;
  while ((iResult = wget_wch(stdscr, &cKey)) != ERR) {
    int iKey = ViewKey(iResult, cKey);
    if (iKey >= 0) pKeys->push_back(iKey);
  }
}

void ScreenTerminal::Resize() {
  if (!m_bOpen) return;
  struct winsize _Size;
  if (ioctl(m_iOutput, TIOCGWINSZ, &_Size) == 0 && _Size.ws_row > 0 &&
      _Size.ws_col > 0) {
    resize_term(_Size.ws_row, _Size.ws_col);
  }
}

void ScreenTerminal::Size(int* pWidth, int* pHeight) const {
  int iHeight = 0;
  int iWidth = 0;
  if (m_bOpen) getmaxyx(stdscr, iHeight, iWidth);
  *pWidth = iWidth;
  *pHeight = iHeight;
}

void ScreenTerminal::Draw(const ScreenFrame& _Frame, bool bClearFirst) {
  if (!m_bOpen) return;
  if (bClearFirst) clearok(curscr, TRUE);
  std::string sRun;
  for (int iRow = 0; iRow < _Frame.m_iHeight; ++iRow) {
    attr_t iDim = _Frame.m_bBodyDimmed && iRow >= 1 && iRow <= _Frame.m_iBodyRows
                      ? A_DIM : A_NORMAL;
    wmove(stdscr, iRow, 0);
    ScreenRole eRole = _Frame.m_iWidth > 0 ? _Frame.At(iRow, 0).m_eRole
                                            : ScreenRole::kPlain;
    sRun.clear();
    for (int iColumn = 0; iColumn <= _Frame.m_iWidth; ++iColumn) {
      bool bEnd = iColumn == _Frame.m_iWidth;
      if (bEnd || _Frame.At(iRow, iColumn).m_eRole != eRole) {
        wattrset(stdscr, Attributes(eRole, m_bColour) | iDim);
        waddstr(stdscr, sRun.c_str());  // the last cell of all may fail
        sRun.clear();
        if (bEnd) break;
        eRole = _Frame.At(iRow, iColumn).m_eRole;
      }
      sRun += _Frame.At(iRow, iColumn).m_sText;
    }
  }
  wattrset(stdscr, A_NORMAL);
  wmove(stdscr, _Frame.m_iCursorRow, _Frame.m_iCursorColumn);
  wnoutrefresh(stdscr);
  doupdate();
}

void ScreenTerminal::RestoreAfterCrash() {
  int iFd = g_iCrashOutput;
  if (iFd < 0) return;
  static const char kReset[] = "\033[0m\033[?25h\r\n";
  if (g_iCrashEndLength > 0) {
    ssize_t iIgnored = write(iFd, g_cCrashEnd, g_iCrashEndLength);
    (void)iIgnored;
  }
  ssize_t iIgnored = write(iFd, kReset, sizeof(kReset) - 1);
  (void)iIgnored;
  tcsetattr(iFd, TCSANOW, &g_CrashMode);
}
