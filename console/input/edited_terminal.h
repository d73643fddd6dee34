// EditedTerminal: command lines typed on a terminal are read with line
// editing and history (libedit), and the line being typed stays whole on the
// last row while other threads print above it.
//
// How: while it runs, the console thread's editing owns the terminal.
// Standard output (and standard error, when it is the terminal too) is
// pointed at a pipe; an output thread of its own drains that pipe to the
// terminal. While a line is being edited, the output thread writes only
// whole lines: it clears the edited line, writes them, and has the editor
// draw the line again below them; the rest of an unfinished line waits for
// its end or for the edit to finish. Between edits (a command runs, a
// question is answered) output goes to the terminal as it comes, and the
// terminal is in its ordinary mode, echoing what is typed ahead.
//
// The answers to questions are read straight from the terminal, never
// through the editor, so they never enter the history; the password is read
// with the echo off (QuietTerminal).
//
// Threads: Start, Stop, ReadLine, ReadAnswer and Remember on the console
//   thread; the output thread is its own. Every call into libedit and every
//   write to the terminal is made with m_Mutex held (libedit keeps global
//   state). The stop step, which may run on the signal thread, only puts the
//   terminal's settings back.
// Ownership: owns the pipe, its output thread and the copies of the
//   terminal's descriptors; Stop (or the destructor) gives standard output
//   and standard error back and joins the thread.
#ifndef VERU_CONSOLE_INPUT_EDITED_TERMINAL_H
#define VERU_CONSOLE_INPUT_EDITED_TERMINAL_H

#include <termios.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class EditedTerminal {
 public:
  EditedTerminal();
  ~EditedTerminal();
  EditedTerminal(const EditedTerminal&) = delete;
  EditedTerminal& operator=(const EditedTerminal&) = delete;

  // Takes the terminal over (standard input and output must both be
  // terminals) and loads the history from sHistoryFile. False, changing
  // nothing, when it cannot.
  bool Start(const std::string& sHistoryFile);
  // Gives the terminal back: what is still in the pipe is written, standard
  // output and standard error point at the terminal again, its settings are
  // as they were. A second call does nothing.
  void Stop();

  // One edited line, without its line end. False at the end of input
  // (Ctrl-D on an empty line, or the terminal gone).
  bool ReadLine(std::string* psLine);
  // One line straight from the terminal in its ordinary mode (the echo as
  // the caller set it), without its line end. False at the end of input
  // with nothing read.
  bool ReadAnswer(std::string* psLine);
  // Adds a line to the history and writes the history file.
  void Remember(const std::string& sLine);

 private:
  // Reads what the pipe holds and writes it to the terminal as the editing
  // state allows (see above). m_Mutex held.
  void Drain();
  // Writes everything held back, then starts a fresh row if the last one
  // is unfinished. m_Mutex held.
  void FlushPending(bool bFreshRow);
  void WriteTerminal(const char* pData, size_t iSize);
  void OutputThread();
  static void OnLine(char* sLine);

  std::mutex m_Mutex;
  bool m_bStarted;
  // A line is being edited; written under m_Mutex, read by the stop step.
  std::atomic<bool> m_bEditing;
  // Set by the stop step: the program ends, no line is drawn again.
  std::atomic<bool> m_bEnding;
  bool m_bAtRowStart;    // the terminal's cursor is at a row's start; m_Mutex
  std::string m_sPending;  // output held back while editing; m_Mutex
  std::string m_sHistoryFile;
  int m_iTerminal;       // a copy of standard output as it was: the terminal
  int m_iErrorCopy;      // a copy of standard error, or -1 when left alone
  int m_iPipeRead;
  int m_iPipeWrite;
  struct termios m_Saved;
  int m_iStopStep;
  std::thread m_Output;
  // The line OnLine was given, for ReadLine (console thread only).
  bool m_bLineDone;
  bool m_bLineEnd;
  std::string m_sLine;
};

#endif  // VERU_CONSOLE_INPUT_EDITED_TERMINAL_H
