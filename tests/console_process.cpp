#include "tests/console_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <vector>

#include "tests/test_util.h"

extern char** environ;

namespace {

// The test's environment, with leak reports off for the child.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> vecEnvironment;
  bool bAsanOptions = false;
  for (char** p = environ; *p != nullptr; ++p) {
    std::string sEntry = *p;
    if (sEntry.compare(0, 13, "ASAN_OPTIONS=") == 0) {
      sEntry += ":detect_leaks=0";
      bAsanOptions = true;
    }
    vecEnvironment.push_back(sEntry);
  }
  if (!bAsanOptions) vecEnvironment.push_back("ASAN_OPTIONS=detect_leaks=0");
  return vecEnvironment;
}

}  // namespace

ConsoleProcess::~ConsoleProcess() {
  if (m_iPid > 0) {
    kill(m_iPid, SIGKILL);
    int iStatus = 0;
    waitpid(m_iPid, &iStatus, 0);
    m_iPid = -1;
  }
  CloseInput();
  m_tStopReading = NowMs();
  if (m_Reader.joinable()) m_Reader.join();
  if (m_ErrorReader.joinable()) m_ErrorReader.join();
  if (m_iOutput >= 0) close(m_iOutput);
  if (m_iErrors >= 0) close(m_iErrors);
  if (m_iTerminal >= 0) close(m_iTerminal);
}

namespace {

// A pseudo-terminal: [0] the side a program reads as its terminal, [1] the
// side that types into it. False when none could be made.
bool OpenTerminal(int iTerminal[2]) {
  int iMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (iMaster < 0) return false;
  const char* sName = nullptr;
  if (grantpt(iMaster) != 0 || unlockpt(iMaster) != 0 ||
      (sName = ptsname(iMaster)) == nullptr) {
    close(iMaster);
    return false;
  }
  int iSlave = open(sName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (iSlave < 0) {
    close(iMaster);
    return false;
  }
  iTerminal[0] = iSlave;
  iTerminal[1] = iMaster;
  return true;
}

}  // namespace

bool ConsoleProcess::StartWithArguments(
    const std::string& sProgram, const std::vector<std::string>& vecArguments,
    bool bTerminalInput) {
  // A write to a child that has ended must fail, not end the test run.
  signal(SIGPIPE, SIG_IGN);
  int iInputPipe[2];
  int iOutputPipe[2];
  int iErrorPipe[2] = {-1, -1};
  if (bTerminalInput ? !OpenTerminal(iInputPipe)
                     : pipe2(iInputPipe, O_CLOEXEC) != 0) {
    return false;
  }
  if (pipe2(iOutputPipe, O_CLOEXEC) != 0 ||
      (m_bErrorsApart && pipe2(iErrorPipe, O_CLOEXEC) != 0)) {
    close(iInputPipe[0]);
    close(iInputPipe[1]);
    return false;
  }

  posix_spawn_file_actions_t _Actions;
  posix_spawn_file_actions_init(&_Actions);
  posix_spawn_file_actions_adddup2(&_Actions, iInputPipe[0], 0);
  posix_spawn_file_actions_adddup2(&_Actions, iOutputPipe[1], 1);
  posix_spawn_file_actions_adddup2(
      &_Actions, m_bErrorsApart ? iErrorPipe[1] : iOutputPipe[1], 2);
  // The child starts as from a fresh shell: the default action for every
  // signal (the test run ignores SIGPIPE, and may itself have been started
  // with SIGINT and SIGHUP ignored, from a background job or nohup) and
  // nothing blocked.
  posix_spawnattr_t _Attributes;
  posix_spawnattr_init(&_Attributes);
  sigset_t _Default;
  sigfillset(&_Default);
  sigdelset(&_Default, SIGKILL);
  sigdelset(&_Default, SIGSTOP);
  posix_spawnattr_setsigdefault(&_Attributes, &_Default);
  sigset_t _NoneBlocked;
  sigemptyset(&_NoneBlocked);
  posix_spawnattr_setsigmask(&_Attributes, &_NoneBlocked);
  posix_spawnattr_setflags(&_Attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> vecEnvironment = ChildEnvironment();
  std::vector<char*> vecEnvp;
  for (std::string& sEntry : vecEnvironment) vecEnvp.push_back(&sEntry[0]);
  vecEnvp.push_back(nullptr);
  std::vector<std::string> vecWords = {sProgram};
  vecWords.insert(vecWords.end(), vecArguments.begin(), vecArguments.end());
  std::vector<char*> vecArgv;
  for (std::string& sWord : vecWords) vecArgv.push_back(&sWord[0]);
  vecArgv.push_back(nullptr);

  int iError = posix_spawnp(&m_iPid, sProgram.c_str(), &_Actions, &_Attributes,
                           vecArgv.data(), vecEnvp.data());
  posix_spawn_file_actions_destroy(&_Actions);
  posix_spawnattr_destroy(&_Attributes);
  // The terminal's reading side stays open here too, to look at its
  // settings.
  if (bTerminalInput) {
    m_iTerminal = iInputPipe[0];
  } else {
    close(iInputPipe[0]);
  }
  close(iOutputPipe[1]);
  if (iErrorPipe[1] >= 0) close(iErrorPipe[1]);
  if (iError != 0) {
    m_iPid = -1;
    close(iInputPipe[1]);
    close(iOutputPipe[0]);
    if (iErrorPipe[0] >= 0) close(iErrorPipe[0]);
    return false;
  }
  m_iInput = iInputPipe[1];
  m_iOutput = iOutputPipe[0];
  m_iErrors = iErrorPipe[0];
  m_Reader = std::thread([this] { ReadStream(m_iOutput, &m_sOutput); });
  if (m_iErrors >= 0) {
    m_ErrorReader = std::thread([this] { ReadStream(m_iErrors, &m_sErrors); });
  }
  return true;
}

int64_t ConsoleProcess::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ConsoleProcess::ReadStream(int iFile, std::string* pText) {
  char cBuffer[4096];
  for (;;) {
    struct pollfd _Poll = {iFile, POLLIN, 0};
    int iReady = poll(&_Poll, 1, 50);
    if (iReady == 0) {
      int64_t tStop = m_tStopReading.load();
      if (tStop != 0 && NowMs() >= tStop) return;
      continue;
    }
    if (iReady < 0 && errno == EINTR) continue;
    if (iReady < 0) return;
    ssize_t iLength = read(iFile, cBuffer, sizeof(cBuffer));
    if (iLength < 0 && errno == EINTR) continue;
    if (iLength <= 0) return;
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    pText->append(cBuffer, static_cast<size_t>(iLength));
    m_Changed.notify_all();
  }
}

bool ConsoleProcess::Write(const std::string& sText) {
  if (m_iInput < 0) return false;
  size_t iDone = 0;
  while (iDone < sText.size()) {
    ssize_t iWritten = write(m_iInput, sText.data() + iDone, sText.size() - iDone);
    if (iWritten < 0 && errno == EINTR) continue;
    if (iWritten <= 0) return false;
    iDone += static_cast<size_t>(iWritten);
  }
  return true;
}

bool ConsoleProcess::WaitFor(const std::string& sText, int iTimeoutMs) {
  return WaitIn(sText, iTimeoutMs, &m_sOutput, &m_iCursor);
}

bool ConsoleProcess::WaitForError(const std::string& sText, int iTimeoutMs) {
  return WaitIn(sText, iTimeoutMs, &m_sErrors, &m_iErrorCursor);
}

bool ConsoleProcess::WaitIn(const std::string& sText, int iTimeoutMs,
                            std::string* pText, size_t* pCursor) {
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  size_t iFound = std::string::npos;
  bool bFound = m_Changed.wait_for(
      _Lock, std::chrono::milliseconds(iTimeoutMs), [&] {
        iFound = pText->find(sText, *pCursor);
        return iFound != std::string::npos;
      });
  if (bFound) *pCursor = iFound + sText.size();
  return bFound;
}

std::string ConsoleProcess::Unmatched() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_sOutput.substr(m_iCursor);
}

std::string ConsoleProcess::Output() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_sOutput;
}

std::string ConsoleProcess::Errors() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_sErrors;
}

bool ConsoleProcess::InputEchoes() {
  struct termios _Settings;
  return m_iTerminal >= 0 && tcgetattr(m_iTerminal, &_Settings) == 0 &&
         (_Settings.c_lflag & ECHO) != 0;
}

void ConsoleProcess::Signal(int iSignal) {
  if (m_iPid > 0) kill(m_iPid, iSignal);
}

void ConsoleProcess::CloseInput() {
  if (m_iInput >= 0) close(m_iInput);
  m_iInput = -1;
}

void ConsoleProcess::Reap(int iStatus, int iDrainMs) {
  m_iPid = -1;
  if (WIFEXITED(iStatus)) {
    m_iExitStatus = WEXITSTATUS(iStatus);
  } else if (WIFSIGNALED(iStatus)) {
    m_iExitStatus = 128 + WTERMSIG(iStatus);
  }
  // The output pipe ends with the child, unless a fetcher it started still
  // holds it: then reading stops after iDrainMs.
  m_tStopReading = NowMs() + iDrainMs;
  if (m_Reader.joinable()) m_Reader.join();
  if (m_ErrorReader.joinable()) m_ErrorReader.join();
}

bool ConsoleProcess::WaitForEnd(int iTimeoutMs) {
  if (m_iPid <= 0) return true;
  int iStatus = 0;
  if (!WaitUntil(
          [&] { return waitpid(m_iPid, &iStatus, WNOHANG) == m_iPid; },
          iTimeoutMs)) {
    return false;
  }
  Reap(iStatus, 2000);
  return true;
}

int ConsoleProcess::WaitForExit(int iTimeoutMs) {
  if (WaitForEnd(iTimeoutMs)) return m_iExitStatus;
  int iStatus = 0;
  kill(m_iPid, SIGKILL);
  waitpid(m_iPid, &iStatus, 0);
  Reap(iStatus, 0);
  return -1;
}

ProgramRun RunProgram(const std::vector<std::string>& vecArguments,
                      const std::string& sProgram) {
  ConsoleProcess _Console;
  _Console.KeepErrorsApart();
  ProgramRun _Run;
  if (!_Console.StartWithArguments(sProgram, vecArguments)) return _Run;
  _Console.CloseInput();
  _Run.iStatus = _Console.WaitForExit();
  _Run.sOutput = _Console.Output();
  _Run.sErrors = _Console.Errors();
  return _Run;
}
