#include "console/input/edited_terminal.h"

#include <editline/readline.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "console/program_end.h"

namespace {

// The most lines the history keeps.
constexpr int kHistoryLines = 500;

// The terminal whose line is being edited: libedit's line handler takes no
// argument. Console thread only.
EditedTerminal* g_pEditing = nullptr;

// Writes all of it, retrying after a signal or a short write.
void WriteAll(int iFile, const char* pData, size_t iSize) {
  while (iSize > 0) {
    ssize_t iWritten = write(iFile, pData, iSize);
    if (iWritten < 0 && errno == EINTR) continue;
    if (iWritten <= 0) return;
    pData += iWritten;
    iSize -= static_cast<size_t>(iWritten);
  }
}

// The columns of the terminal on iFile; 80 when it does not say.
int Columns(int iFile) {
  struct winsize _Size;
  if (ioctl(iFile, TIOCGWINSZ, &_Size) == 0 && _Size.ws_col > 0) {
    return _Size.ws_col;
  }
  return 80;
}

}  // namespace

EditedTerminal::EditedTerminal()
    : m_bStarted(false),
      m_bEditing(false),
      m_bEnding(false),
      m_bAtRowStart(true),
      m_iTerminal(-1),
      m_iErrorCopy(-1),
      m_iPipeRead(-1),
      m_iPipeWrite(-1),
      m_iStopStep(0),
      m_bLineDone(false),
      m_bLineEnd(false) {}

EditedTerminal::~EditedTerminal() { Stop(); }

bool EditedTerminal::Start(const std::string& sHistoryFile) {
  if (m_bStarted || !isatty(0) || !isatty(1) || tcgetattr(0, &m_Saved) != 0) {
    return false;
  }
  int iPipe[2];
  if (pipe2(iPipe, O_CLOEXEC) != 0) return false;
  m_iTerminal = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (m_iTerminal < 0) {
    close(iPipe[0]);
    close(iPipe[1]);
    return false;
  }
  m_iPipeRead = iPipe[0];
  m_iPipeWrite = iPipe[1];
  fcntl(m_iPipeRead, F_SETFL, fcntl(m_iPipeRead, F_GETFL) | O_NONBLOCK);
  struct termios _Saved = m_Saved;
  int iTerminal = m_iTerminal;
  std::atomic<bool>* pEditing = &m_bEditing;
  std::atomic<bool>* pEnding = &m_bEnding;
  m_iStopStep = AddStopStep([_Saved, iTerminal, pEditing, pEnding] {
    *pEnding = true;
    tcsetattr(0, TCSANOW, &_Saved);
    // What comes after the program starts on a row of its own.
    if (*pEditing) WriteAll(iTerminal, "\r\n", 2);
  });

  // libedit: no signal handlers of its own (the signal thread takes the
  // signals), the terminal as standard input and the copy of standard
  // output (never the pipe) for drawing.
  rl_catch_signals = 0;
  rl_catch_sigwinch = 0;
  rl_instream = stdin;
  rl_outstream = fdopen(fcntl(m_iTerminal, F_DUPFD_CLOEXEC, 3), "w");
  rl_initialize();
  // Ctrl-C, Ctrl-\\ and the like stay signals while a line is edited, so
  // they end the program as they do at any other time.
  rl_parse_and_bind("setty -d +isig");
  using_history();
  stifle_history(kHistoryLines);
  m_sHistoryFile = sHistoryFile;
  read_history(m_sHistoryFile.c_str());

  fflush(stdout);
  fflush(stderr);
  if (isatty(2)) {
    m_iErrorCopy = fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (m_iErrorCopy >= 0) dup2(m_iPipeWrite, 2);
  }
  dup2(m_iPipeWrite, 1);
  m_bStarted = true;
  m_Output = std::thread([this] { OutputThread(); });
  return true;
}

void EditedTerminal::Stop() {
  if (!m_bStarted) return;
  m_bStarted = false;
  RemoveStopStep(m_iStopStep);
  m_iStopStep = 0;
  fflush(stdout);
  fflush(stderr);
  // Standard output and standard error point at the terminal again; with
  // the last writer gone the output thread reads to the pipe's end and ends.
  dup2(m_iTerminal, 1);
  if (m_iErrorCopy >= 0) {
    dup2(m_iErrorCopy, 2);
    close(m_iErrorCopy);
    m_iErrorCopy = -1;
  }
  close(m_iPipeWrite);
  m_iPipeWrite = -1;
  m_Output.join();
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    Drain();
    FlushPending(false);
  }
  close(m_iPipeRead);
  m_iPipeRead = -1;
  if (rl_outstream != nullptr && rl_outstream != stdout) fclose(rl_outstream);
  rl_outstream = stdout;
  close(m_iTerminal);
  m_iTerminal = -1;
  tcsetattr(0, TCSANOW, &m_Saved);
}

void EditedTerminal::WriteTerminal(const char* pData, size_t iSize) {
  if (iSize == 0) return;
  WriteAll(m_iTerminal, pData, iSize);
  m_bAtRowStart = pData[iSize - 1] == '\n';
}

void EditedTerminal::Drain() {
  char cBuffer[4096];
  for (;;) {
    ssize_t iRead = read(m_iPipeRead, cBuffer, sizeof cBuffer);
    if (iRead < 0 && errno == EINTR) continue;
    if (iRead <= 0) break;
    m_sPending.append(cBuffer, static_cast<size_t>(iRead));
  }
  if (m_sPending.empty()) return;
  if (!m_bEditing || m_bEnding) {
    FlushPending(false);
    return;
  }
  size_t iEnd = m_sPending.rfind('\n');
  if (iEnd == std::string::npos) return;
  // Clear the edited line, from the row the cursor is on to the end of the
  // screen, write the whole lines above it and draw it again.
  int iRowsAbove = rl_point / Columns(m_iTerminal);
  std::string sClear = "\r";
  if (iRowsAbove > 0) sClear += "\x1b[" + std::to_string(iRowsAbove) + "A";
  sClear += "\x1b[J";
  WriteAll(m_iTerminal, sClear.data(), sClear.size());
  WriteTerminal(m_sPending.data(), iEnd + 1);
  m_sPending.erase(0, iEnd + 1);
  rl_forced_update_display();
}

void EditedTerminal::FlushPending(bool bFreshRow) {
  WriteTerminal(m_sPending.data(), m_sPending.size());
  m_sPending.clear();
  if (bFreshRow && !m_bAtRowStart) WriteTerminal("\n", 1);
}

void EditedTerminal::OutputThread() {
  for (;;) {
    struct pollfd _Poll = {m_iPipeRead, POLLIN, 0};
    int iReady = poll(&_Poll, 1, -1);
    if (iReady < 0 && errno == EINTR) continue;
    if (iReady < 0) return;
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    // Readable with nothing to read: every writer has gone.
    int iWaiting = 0;
    if ((_Poll.revents & POLLIN) == 0 ||
        (ioctl(m_iPipeRead, FIONREAD, &iWaiting) == 0 && iWaiting == 0)) {
      if ((_Poll.revents & (POLLHUP | POLLERR)) != 0) return;
    }
    Drain();
  }
}

void EditedTerminal::OnLine(char* sLine) {
  EditedTerminal* pTerminal = g_pEditing;
  if (pTerminal != nullptr) {
    pTerminal->m_bLineDone = true;
    pTerminal->m_bLineEnd = sLine == nullptr;
    pTerminal->m_sLine = sLine != nullptr ? sLine : "";
  }
  free(sLine);
}

bool EditedTerminal::ReadLine(std::string* psLine) {
  fflush(stdout);
  fflush(stderr);
  m_bLineDone = false;
  m_bLineEnd = false;
  g_pEditing = this;
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    // What this thread printed (a result line without its end) is shown
    // first; the edit starts on a row of its own.
    Drain();
    FlushPending(true);
    m_bEditing = true;
    rl_callback_handler_install("", &EditedTerminal::OnLine);
  }
  while (!m_bLineDone) {
    struct pollfd _Poll = {0, POLLIN, 0};
    int iReady = poll(&_Poll, 1, -1);
    if (iReady < 0 && errno == EINTR) continue;
    // The terminal gone: the end of input.
    if (iReady < 0 || (_Poll.revents & POLLNVAL) != 0 ||
        ((_Poll.revents & POLLIN) == 0 &&
         (_Poll.revents & (POLLHUP | POLLERR)) != 0)) {
      m_bLineDone = true;
      m_bLineEnd = true;
      break;
    }
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    rl_callback_read_char();
  }
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    rl_callback_handler_remove();
    m_bEditing = false;
    // The editor ended the row of the line; what was held back follows.
    m_bAtRowStart = true;
    FlushPending(false);
  }
  g_pEditing = nullptr;
  *psLine = m_sLine;
  return !m_bLineEnd;
}

bool EditedTerminal::ReadAnswer(std::string* psLine) {
  fflush(stdout);
  fflush(stderr);
  {
    // The question is shown before the answer is waited for.
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    Drain();
  }
  psLine->clear();
  bool bAny = false;
  for (;;) {
    char c;
    ssize_t iRead = read(0, &c, 1);
    if (iRead < 0 && errno == EINTR) continue;
    if (iRead <= 0) break;
    bAny = true;
    if (c == '\n') break;
    psLine->push_back(c);
  }
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  // The terminal echoed the line end.
  m_bAtRowStart = true;
  return bAny;
}

void EditedTerminal::Remember(const std::string& sLine) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  add_history(sLine.c_str());
  if (write_history(m_sHistoryFile.c_str()) == 0) {
    chmod(m_sHistoryFile.c_str(), S_IRUSR | S_IWUSR);
  }
}
