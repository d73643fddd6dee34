// ScreenTerminal is the one place that talks to the terminal library
// (ncurses): it takes the terminal over on private copies of standard input
// and output, maps the layout's roles to attributes, draws frames, reads
// keys into the view's codes, and gives the terminal back as it found it.
//
// Colours: none when NO_COLOR is set (non-empty) or the terminal has none;
//   the meaning is then carried by bold, reverse and underline. Colours, when
//   used, keep the terminal's own default background. The mouse is never
//   captured.
// Threads: one thread alone (the drawing thread) calls every method but
//   RestoreAfterCrash, which a fatal signal's handler may call on any thread.
// Ownership: the terminal owns its private descriptors and the ncurses
//   screen; Close gives both back.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_TERMINAL_H
#define VERU_CONSOLE_SCREEN_SCREEN_TERMINAL_H

#include <string>
#include <vector>

#include "console/screen/screen_layout.h"

class ScreenTerminal {
 public:
  ScreenTerminal() = default;
  ~ScreenTerminal();
  ScreenTerminal(const ScreenTerminal&) = delete;
  ScreenTerminal& operator=(const ScreenTerminal&) = delete;

  // True when standard input and output are a terminal of a type the
  // terminal library knows; otherwise false with the reason in *pError.
  static bool Usable(std::string* pError);

  // Takes the terminal over (full screen, keys one by one, no echo). False,
  // with the reason in *pError, when that cannot be done.
  bool Open(std::string* pError);
  // Gives the terminal back in the mode it had before Open. Safe to call
  // twice, and when Open failed.
  void Close();
  bool IsOpen() const { return m_bOpen; }

  // The descriptor to wait on for keys.
  int InputFd() const { return m_iInput; }
  // Appends the keys waiting (the view's codes, see screen_keys.h); never
  // blocks.
  void ReadKeys(std::vector<int>* pKeys);
  // After a change of size: reads the terminal's size anew.
  void Resize();
  void Size(int* pWidth, int* pHeight) const;
  // Draws the frame, only what changed since the last one unless
  // bClearFirst; the hardware cursor goes where the frame says.
  void Draw(const ScreenFrame& _Frame, bool bClearFirst);

  // Best effort from a fatal signal's handler: the terminal's saved mode
  // and the end of the full screen, with async-signal-safe calls only.
  static void RestoreAfterCrash();

 private:
  bool m_bOpen = false;
  bool m_bColour = false;
  int m_iInput = -1;   // private copy of standard input
  int m_iOutput = -1;  // private copy of standard output
  void* m_pScreen = nullptr;  // the library's SCREEN
  void* m_pInFile = nullptr;  // FILE over m_iInput
  void* m_pOutFile = nullptr;  // FILE over m_iOutput
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_TERMINAL_H
