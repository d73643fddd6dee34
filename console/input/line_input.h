// LineInput reads the console's lines: command lines, the answers to the
// wizard's and the prompts' questions, and the password (without echo). The
// command loop, the wizard and the full-screen view share its limits, so a
// line means the same wherever it is typed.
//
// From a pipe or a file it reads the input a byte at a time, exactly as it
// comes. On a terminal whose editing was started (StartEditing, see
// edited_terminal.h) command lines are read with line editing and history,
// and the answers through the same terminal.
//
// Threads: console thread only (the thread that runs the command loop or
//   the wizard). Ownership: the front end owns it; it never closes its file.
#ifndef VERU_CONSOLE_INPUT_LINE_INPUT_H
#define VERU_CONSOLE_INPUT_LINE_INPUT_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

class EditedTerminal;

// An answer is read into a buffer of this size: at most 99 characters count,
// the line end is not kept.
constexpr int kAnswerBufferSize = 100;
// A command line holds at most this many bytes (the line end not counted);
// a longer one is refused whole.
constexpr size_t kCommandLineMaxBytes = 1000;

// The one line on standard error that refuses a command line of iBytes
// bytes (with its line end).
std::string TooLongLineMessage(size_t iBytes);

enum class LineRead {
  kLine,     // a command line
  kTooLong,  // a line longer than kCommandLineMaxBytes, read to its end
             // and refused with one line on standard error
  kEnd,      // the end of input
};

class LineInput {
 public:
  LineInput();
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // The file lines come from (standard input unless a test says otherwise).
  void SetFile(FILE* pFile) { m_pFile = pFile; }
  FILE* File() const { return m_pFile; }

  // When the file is standard input, standard input and standard output are
  // both terminals: command lines are read with editing from now on, the
  // history kept in sHistoryFile. Other threads' output then reaches the
  // terminal through the editing (see edited_terminal.h). False, changing
  // nothing, otherwise.
  bool StartEditing(const std::string& sHistoryFile);
  // Gives the terminal back as it was; output goes straight to it again.
  // Called before the program ends; a second call does no harm.
  void StopEditing();

  // One command line into *psLine, without its line end (empty when
  // refused).
  LineRead ReadCommandLine(std::string* psLine);
  // Keeps a command line in the history (only while editing; empty lines
  // are not kept). The caller decides: a line taken as an answer is never
  // kept.
  void Remember(const std::string& sLine);

  // One answer into cBuffer (kAnswerBufferSize bytes): the line end is
  // dropped and characters past the 99th are read and thrown away. False at
  // end of input (cBuffer is then empty). A prompt printed before is shown
  // first.
  bool ReadAnswer(char* cBuffer);
  // As ReadAnswer, with the terminal's echo off when the file is one.
  bool ReadSecretAnswer(char* cBuffer);

 private:
  FILE* m_pFile;
  std::unique_ptr<EditedTerminal> m_pEditing;  // null unless editing
};

#endif  // VERU_CONSOLE_INPUT_LINE_INPUT_H
