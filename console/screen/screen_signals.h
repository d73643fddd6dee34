// ScreenSignals turns the signals the full-screen view answers into bytes on
// a pipe its drawing thread waits on: SIGWINCH (the view is laid out again)
// and, when the program's signal thread (program_end.h) does not take them,
// SIGINT, SIGTERM and SIGHUP (the view ends, the terminal is given back, the
// program ends with 128 + the signal). When that thread takes them, the
// view's stop step asks for the end through the same pipe (AskToEnd). A fatal signal (SIGSEGV,
// SIGBUS, SIGFPE, SIGABRT) gives the terminal back as well as it can before
// the program dies of it.
//
// Threads: the handlers run on any thread and only write to the pipe;
//   Install, Remove, Fd and Take on the drawing thread.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_SIGNALS_H
#define VERU_CONSOLE_SCREEN_SCREEN_SIGNALS_H

#include <csignal>

namespace ScreenSignals {

// Installs the handlers (the previous ones are kept for Remove). False
// when the pipe cannot be made.
bool Install();
// Puts the previous handlers back.
void Remove();
// Asks the drawing thread to end, as a signal would (any thread; the
// program's signal thread, when it ends the program). Take gives kEnd.
void AskToEnd();
constexpr int kEnd = 255;
// The pipe's end to wait on.
int Fd();
// The most urgent signal waiting: an ending one before SIGWINCH; 0 when
// none is waiting.
int Take();

}  // namespace ScreenSignals

#endif  // VERU_CONSOLE_SCREEN_SCREEN_SIGNALS_H
