// SimProcess runs veru-sim as a child process with its default addresses
// (unit 127.0.0.5:3480, forward servers 127.0.0.1:3443 and :3444, the
// compiled-in locators, control on 127.0.0.1:3499) and no changes of its
// own, so every change a test sees is one it made. It writes its forward
// servers' certificate to CaFile(), for the console to trust. It is asked to
// quit through its control listener. The child itself is run by a
// ConsoleProcess, which collects its output.
//
// Threads: one test thread drives the object.
// Ownership: the destructor stops a simulator still running (SIGKILL when
// it does not quit in time) and reaps it.
#ifndef VERU_TESTS_SIM_PROCESS_H
#define VERU_TESTS_SIM_PROCESS_H

#include <string>

#include "tests/console_process.h"

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the simulator and waits until its control listener answers.
  // False when it could not be started.
  bool Start();
  // Sends one control command ("change", "dump", ...); the reply's body, or
  // empty on failure.
  std::string Control(const std::string& sQuery);
  void Stop();
  // Types "quit" into a console polling this simulator and, as a stop takes
  // effect when the poll in flight returns, makes changes in the home (each
  // ends a long poll at once) until the console has ended. Its exit status,
  // or -1 when it had not ended within 15 s (it is then killed).
  int QuitConsole(ConsoleProcess* pConsole);
  // The simulator's certificate authority, a file removed by Stop.
  const std::string& CaFile() const { return m_sCaFile; }

 private:
  ConsoleProcess m_Process;
  bool m_bRunning = false;
  std::string m_sCaFile;
};

#endif  // VERU_TESTS_SIM_PROCESS_H
