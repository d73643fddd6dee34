// ScreenOutput keeps the full screen to itself: while the view runs, the
// program's standard output and standard error (the fetch progress lines,
// warnings, anything a library prints) go into a pipe instead of the
// terminal, and the view shows the last line of them on its message line.
// Restore points both descriptors back where they were.
//
// Threads: SetAside and Restore on the drawing thread, with no other thread
//   printing at that moment being harmless (a line is then written to one
//   place or the other); TakeLastLine and Fd on the drawing thread.
// Ownership: the pipe and the saved descriptors are its own, process-wide.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_OUTPUT_H
#define VERU_CONSOLE_SCREEN_SCREEN_OUTPUT_H

#include <string>

namespace ScreenOutput {

// Points descriptors 1 and 2 into the pipe. False (nothing changed) when
// the pipe cannot be made.
bool SetAside();
// Points them back; does nothing when they are not set aside.
void Restore();
// The pipe's end to wait on; -1 when not set aside.
int Fd();
// Where standard output goes when it is not set aside: descriptor 1, or
// while set aside the copy of what it was (the terminal).
int OutputFd();
// Reads what is waiting and returns its last whole line worth showing (the
// fetch progress lines, "GET:...", are not); empty when there is none.
std::string TakeLastLine();
// Reads what is waiting and returns every whole line worth showing, each
// with its line end; an unfinished line is dropped.
std::string TakeWholeLines();

}  // namespace ScreenOutput

#endif  // VERU_CONSOLE_SCREEN_SCREEN_OUTPUT_H
