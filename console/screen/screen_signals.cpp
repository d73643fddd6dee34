// The full-screen view's signals, through a self-pipe.
#include "console/screen/screen_signals.h"

#include <fcntl.h>
#include <cerrno>
#include <unistd.h>

#include "console/screen/screen_terminal.h"

namespace ScreenSignals {

namespace {

const int kAnswered[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
const int kFatal[] = {SIGSEGV, SIGBUS, SIGFPE, SIGABRT};

int g_aPipe[2] = {-1, -1};
struct sigaction g_aPrevious[4];
struct sigaction g_aPreviousFatal[4];
bool g_bInstalled = false;

void OnSignal(int iSignal) {
  int iSaved = errno;
  unsigned char c = static_cast<unsigned char>(iSignal);
  ssize_t iIgnored = write(g_aPipe[1], &c, 1);
  (void)iIgnored;
  errno = iSaved;
}

void OnFatal(int iSignal) {
  ScreenTerminal::RestoreAfterCrash();
  signal(iSignal, SIG_DFL);
  raise(iSignal);
}

}  // namespace

bool Install() {
  if (g_bInstalled) return true;
  if (g_aPipe[0] < 0 && pipe2(g_aPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction _Action;
  sigemptyset(&_Action.sa_mask);
  _Action.sa_flags = SA_RESTART;
  _Action.sa_handler = OnSignal;
  for (int i = 0; i < 4; ++i) sigaction(kAnswered[i], &_Action, &g_aPrevious[i]);
  _Action.sa_handler = OnFatal;
  _Action.sa_flags = SA_RESETHAND;
  for (int i = 0; i < 4; ++i) sigaction(kFatal[i], &_Action, &g_aPreviousFatal[i]);
  g_bInstalled = true;
  return true;
}

void Remove() {
  if (!g_bInstalled) return;
  for (int i = 0; i < 4; ++i) sigaction(kAnswered[i], &g_aPrevious[i], nullptr);
  for (int i = 0; i < 4; ++i) sigaction(kFatal[i], &g_aPreviousFatal[i], nullptr);
  g_bInstalled = false;
}

int Fd() { return g_aPipe[0]; }

void AskToEnd() {
  unsigned char c = kEnd;
  ssize_t iIgnored = write(g_aPipe[1], &c, 1);
  (void)iIgnored;
}

int Take() {
  unsigned char cBuffer[32];
  int iFound = 0;
  ssize_t iRead;
  while ((iRead = read(g_aPipe[0], cBuffer, sizeof(cBuffer))) > 0) {
    for (ssize_t i = 0; i < iRead; ++i) {
      int iSignal = cBuffer[i];
      if (iFound == kEnd) continue;
      if (iSignal != SIGWINCH || iFound == 0) iFound = iSignal;
    }
  }
  return iFound;
}

}  // namespace ScreenSignals
