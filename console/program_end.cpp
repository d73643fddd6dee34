#include "console/program_end.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::mutex g_StepMutex;
std::map<int, std::function<void()>> g_mapStep;  // guarded by g_StepMutex
int g_iLastStep = 0;                             // guarded by g_StepMutex
bool g_bStepsRun = false;                        // guarded by g_StepMutex

// The signal thread: waits for one of the signals in *pArg (a sigset_t that
// lives as long as the program), runs the stop steps and ends the program
// as the signal's status tells.
void* WaitForSignal(void* pArg) {
  const sigset_t* pSignals = static_cast<const sigset_t*>(pArg);
  int iSignal = 0;
  while (sigwait(pSignals, &iSignal) != 0) {
  }
  RunStopSteps();
  // Nothing else is to run: no exit handlers, no destructors of objects
  // that the other threads still use.
  _exit(128 + iSignal);
}

}  // namespace

bool StartSignalThread() {
  static sigset_t s_Signals;
  sigemptyset(&s_Signals);
  for (int iSignal : kEndSignals) {
    struct sigaction _Action;
    if (sigaction(iSignal, nullptr, &_Action) != 0) continue;
    if (_Action.sa_handler == SIG_IGN) continue;
    sigaddset(&s_Signals, iSignal);
  }
  sigset_t _Old;
  if (pthread_sigmask(SIG_BLOCK, &s_Signals, &_Old) != 0) return false;
  pthread_t hThread;
  if (pthread_create(&hThread, nullptr, &WaitForSignal, &s_Signals) != 0) {
    pthread_sigmask(SIG_SETMASK, &_Old, nullptr);
    return false;
  }
  pthread_detach(hThread);
  return true;
}

int AddStopStep(std::function<void()> fStep) {
  std::lock_guard<std::mutex> _Lock(g_StepMutex);
  g_mapStep[++g_iLastStep] = std::move(fStep);
  return g_iLastStep;
}

void RemoveStopStep(int iStep) {
  std::lock_guard<std::mutex> _Lock(g_StepMutex);
  g_mapStep.erase(iStep);
}

void RunStopSteps() {
  std::vector<std::function<void()>> vecSteps;
  {
    std::lock_guard<std::mutex> _Lock(g_StepMutex);
    if (g_bStepsRun) return;
    g_bStepsRun = true;
    for (auto it = g_mapStep.rbegin(); it != g_mapStep.rend(); ++it) {
      vecSteps.push_back(it->second);
    }
  }
  for (const std::function<void()>& fStep : vecSteps) fStep();
}
