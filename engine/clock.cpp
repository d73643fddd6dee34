#include "engine/clock.h"

#include <ctime>

#include <cerrno>

namespace Veru {

int64_t Now() { return static_cast<int64_t>(time(nullptr)); }

int64_t NowMs() {
  struct timespec tsNow;
  clock_gettime(CLOCK_MONOTONIC, &tsNow);
  return static_cast<int64_t>(tsNow.tv_sec) * 1000 + tsNow.tv_nsec / 1000000;
}

void SleepMs(int iMs) {
  if (iMs <= 0) return;
  struct timespec tsWait;
  tsWait.tv_sec = iMs / 1000;
  tsWait.tv_nsec = static_cast<long>(iMs % 1000) * 1000000L;
  while (nanosleep(&tsWait, &tsWait) != 0 && errno == EINTR) {
  }
}

bool SleepUnless(int iMs, const std::atomic<bool>& bStop) {
  constexpr int kStepMs = 100;
  for (int iLeftMs = iMs; iLeftMs > 0 && !bStop; iLeftMs -= kStepMs) {
    SleepMs(iLeftMs < kStepMs ? iLeftMs : kStepMs);
  }
  return !bStop;
}

}  // namespace Veru
