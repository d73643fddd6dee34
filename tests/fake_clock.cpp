#include "tests/fake_clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/clock.h"

namespace {

std::atomic<int64_t> g_iNowMs{1700000000LL * 1000};
std::atomic<int64_t> g_iSleptMs{0};
std::mutex g_HookMutex;
std::function<void(int)> g_fHook;

}  // namespace

namespace FakeClock {

void Reset(int64_t tNow) {
  g_iNowMs = tNow * 1000;
  g_iSleptMs = 0;
}

void Advance(int iMs) { g_iNowMs += iMs; }

int64_t SleptMs() { return g_iSleptMs.load(); }

void SetSleepHook(std::function<void(int)> fHook) {
  std::lock_guard<std::mutex> _Lock(g_HookMutex);
  g_fHook = std::move(fHook);
}

}  // namespace FakeClock

namespace Veru {

int64_t Now() { return g_iNowMs.load() / 1000; }

int64_t NowMs() { return g_iNowMs.load(); }

void SleepMs(int iMs) {
  std::function<void(int)> fHook;
  {
    std::lock_guard<std::mutex> _Lock(g_HookMutex);
    fHook = g_fHook;
  }
  if (fHook) fHook(iMs);
  if (iMs > 0) {
    g_iNowMs += iMs;
    g_iSleptMs += iMs;
  }
  // Let the other threads run, as a real sleep would.
  std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// One fake sleep of the whole time asked for, so a sleep hook sees the wait
// as the code asked for it.
bool SleepUnless(int iMs, const std::atomic<bool>& bStop) {
  if (bStop) return false;
  SleepMs(iMs);
  return !bStop;
}

}  // namespace Veru
