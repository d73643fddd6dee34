// ConsoleProcess runs the real program as a child process on pipes: the test
// writes its standard input, and a reader thread collects its standard
// output and standard error into one text (or, when asked, its standard
// error apart, by a second reader thread). The child runs in the current
// working directory (a ScratchDir) with the test's environment, except that
// leak reports are switched off for it: the program frees nothing at exit
// by design. It starts with the default action for every signal and no
// signal blocked, whatever the test run inherited.
//
// Threads: one test thread drives the object; the reader threads only
// append to the collected texts under the object's own lock.
// Ownership: the destructor kills (SIGKILL) a child still running, reaps it
// and closes the pipes.
#ifndef VERU_TESTS_CONSOLE_PROCESS_H
#define VERU_TESTS_CONSOLE_PROCESS_H

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ConsoleProcess {
 public:
  ConsoleProcess() = default;
  ~ConsoleProcess();
  ConsoleProcess(const ConsoleProcess&) = delete;
  ConsoleProcess& operator=(const ConsoleProcess&) = delete;

  // Starts sProgram (a path, or a name looked up on PATH; no arguments). With bTerminalInput the child reads a
  // pseudo-terminal (so it sees a terminal, as a user's program does)
  // instead of a pipe. False when it could not be started.
  bool Start(const std::string& sProgram, bool bTerminalInput = false) {
    return StartWithArguments(sProgram, std::vector<std::string>(),
                              bTerminalInput);
  }
  // The same with command-line arguments.
  bool StartWithArguments(const std::string& sProgram,
                          const std::vector<std::string>& vecArguments,
                          bool bTerminalInput = false);
  // Called before Start: standard error is collected apart (Errors), so
  // the output texts hold standard output alone.
  void KeepErrorsApart() { m_bErrorsApart = true; }
  // Writes to the child's standard input. False when the child no longer
  // reads (its input was closed or it has ended).
  bool Write(const std::string& sText);
  bool WriteLine(const std::string& sLine) { return Write(sLine + "\n"); }
  // Waits up to iTimeoutMs for sText to appear in the output after the end
  // of the previous match, and moves past it; so a sequence of calls checks
  // that the texts came in that order. False on timeout.
  bool WaitFor(const std::string& sText, int iTimeoutMs = 15000);
  // The output since the end of the previous match (what WaitFor would
  // search next).
  std::string Unmatched();
  // Everything the child has printed so far.
  std::string Output();
  // With KeepErrorsApart: everything the child has printed on standard
  // error so far.
  std::string Errors();
  // With KeepErrorsApart: waits up to iTimeoutMs for sText to appear on
  // standard error after the end of the previous match there.
  bool WaitForError(const std::string& sText, int iTimeoutMs = 15000);
  // With terminal input: true when the terminal echoes what is typed.
  bool InputEchoes();
  // Sends the child a signal.
  void Signal(int iSignal);
  // Closes the child's standard input: it sees end of input.
  void CloseInput();
  // Waits up to iTimeoutMs for the child to end, and leaves it running when
  // it has not: true when it has ended (WaitForExit then gives its status).
  bool WaitForEnd(int iTimeoutMs);
  // Waits up to iTimeoutMs for the child to end. Returns its exit status,
  // 128 + the signal number when a signal ended it, or -1 when it had not
  // ended in time (it is then killed).
  int WaitForExit(int iTimeoutMs = 15000);

 private:
  static int64_t NowMs();
  // Appends what iFile brings to *pText until its end (or the stop time).
  void ReadStream(int iFile, std::string* pText);
  bool WaitIn(const std::string& sText, int iTimeoutMs, std::string* pText,
              size_t* pCursor);
  void Reap(int iStatus, int iDrainMs);

  pid_t m_iPid = -1;
  int m_iInput = -1;     // pipe, or the terminal's master side
  int m_iTerminal = -1;  // the terminal's side the child reads, or -1
  int m_iOutput = -1;
  int m_iErrors = -1;  // the standard error pipe with KeepErrorsApart
  bool m_bErrorsApart = false;
  int m_iExitStatus = -1;
  std::atomic<int64_t> m_tStopReading{0};  // 0: read until end of output
  std::thread m_Reader;
  std::thread m_ErrorReader;
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::string m_sOutput;  // guarded by m_Mutex
  size_t m_iCursor = 0;   // guarded by m_Mutex
  std::string m_sErrors;  // guarded by m_Mutex
  size_t m_iErrorCursor = 0;  // guarded by m_Mutex
};

// One run of a program to its end with its input closed: its exit status
// (as WaitForExit gives it), standard output and standard error apart.
// The program starts from its argument vector, with no shell between
// (the tests start the console, tmux, man and bash this way).
struct ProgramRun {
  int iStatus = -1;
  std::string sOutput;
  std::string sErrors;
};
ProgramRun RunProgram(const std::vector<std::string>& vecArguments,
                      const std::string& sProgram);

#endif  // VERU_TESTS_CONSOLE_PROCESS_H
