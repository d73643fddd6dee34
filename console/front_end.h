// FrontEnd is the console: it restores the current unit from the setting
// files (or runs the connection wizard), owns the model mutex, creates and
// starts the engine, reads command lines, and receives the engine's reports
// through its hooks.
//
// Threads: Run, the wizard, AskPassword, the command loop and HandleCommand
//   run on the console (main) thread. Every On* hook runs on the poll thread;
//   OnDevice and OnScene run inside a merge with m_Mutex held, so no hook
//   locks m_Mutex. m_pEngine, m_bNeedPassword and m_bNeedUserPassword are
//   atomics shared without the lock.
// Ownership: the front end lives for the whole run and never frees the
//   engine, the current unit record or the mutex.
#ifndef VERU_CONSOLE_FRONT_END_H
#define VERU_CONSOLE_FRONT_END_H

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "engine/model.h"

namespace Veru {
class PollLoop;
}

// Every answer and command line is read into a buffer of this size: at most
// 99 characters count, the line end is not kept.
constexpr int kInputBufferSize = 100;

class FrontEnd {
 public:
  FrontEnd();
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // The whole life of the program after start-up. Returns the exit status:
  // 0 after "quit" or the end of input, 1 when there was no unit to connect
  // to, the poll thread could not start, or the connection was lost.
  int Run();

  // --- Setting files -------------------------------------------------------
  // Writes every setting of the current unit; arg_pass only when
  // bSavePassword. All or nothing: when one file cannot be written, none is
  // replaced and the failure is reported on standard error. Copies the
  // unit's fields under m_Mutex first. Does nothing without a current unit.
  void SaveSettings(bool bSavePassword);

  // --- Connection wizard and password prompt (console thread) -------------
  void ConnectWizard(std::string sUser);
  void AskPassword();

  // --- Command loop (console thread) ---------------------------------------
  // Reads and routes lines until "quit", end of input, or the poll thread
  // has ended.
  void CommandLoop();
  void HandleCommand(const char* cBuffer);
  // Reads one line into cBuffer (kInputBufferSize bytes): the line end is
  // dropped and characters past the 99th are read and thrown away. False at
  // end of input (cBuffer is then empty).
  bool ReadLine(char* cBuffer);

  // --- Model printing hooks (poll thread) ----------------------------------
  void OnDevice(Veru::Device* pDevice);
  void OnScene(Veru::Scene* pScene);
  void OnEngineState();
  void OnFullData();

  // --- Connection hooks (poll thread) --------------------------------------
  void OnPasswordNeeded();
  void OnUserPasswordNeeded();
  void OnConnectionRetry();
  void OnConnectionLost();

  pthread_mutex_t m_Mutex;
  std::atomic<Veru::Engine*> m_pEngine;
  Veru::PollLoop* m_pPollLoop;
  std::atomic<bool> m_bNeedPassword;
  std::atomic<bool> m_bNeedUserPassword;
  // Set by OnConnectionLost: the engine gave the connection up.
  std::atomic<bool> m_bConnectionLost;
  // Where lines are read from; standard input unless a test says otherwise.
  FILE* m_pInput;
};

#endif  // VERU_CONSOLE_FRONT_END_H
