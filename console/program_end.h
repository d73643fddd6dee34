// The end of the program, however it comes: "quit", the end of input, the
// end of --once or --do, or a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT).
//
// A signal ends the program through its stop steps: each part of the
// program that leaves something behind when it ends in the middle (the front
// end's fetches in flight and its settings save, a terminal whose echo is
// off, a full-screen view) adds a step that puts it right. On a signal the
// steps run, last added first, on a thread of their own, and the program ends
// with status 128 + the signal. A signal ignored when the program started
// stays ignored (nohup) and runs nothing.
//
// Threads: StartSignalThread is called by main before any other thread
//   starts; the others may be called from any thread. A step runs on the
//   signal thread while the other threads go on: it must not wait for the
//   console or the poll thread to do anything. The registry has a lock of
//   its own, not held while a step runs.
#ifndef VERU_CONSOLE_PROGRAM_END_H
#define VERU_CONSOLE_PROGRAM_END_H

#include <functional>

// Blocks the four signals (those not ignored at start) in the calling
// thread, so every thread started afterwards has them blocked too, and
// starts the thread that waits for them. False when that thread could not
// be started: the signals are then left as they were.
bool StartSignalThread();

// Adds a step; returns its number for RemoveStopStep.
int AddStopStep(std::function<void()> fStep);
// Takes the step out; a step already running on the signal thread finishes.
void RemoveStopStep(int iStep);

// Runs every step added, last added first, once: later calls run nothing.
void RunStopSteps();

#endif  // VERU_CONSOLE_PROGRAM_END_H
