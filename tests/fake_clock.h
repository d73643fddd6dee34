// The test clock: linked into the tests in place of engine/clock.cpp.
// Veru::Now() and Veru::NowMs() read a fake time; Veru::SleepMs advances it
// by the time asked for and yields for a moment only, so 60-second rules
// run in milliseconds.
// Safe on any thread.
#ifndef VERU_TESTS_FAKE_CLOCK_H
#define VERU_TESTS_FAKE_CLOCK_H

#include <cstdint>
#include <functional>

namespace FakeClock {

// Sets the fake time (seconds since the epoch) and forgets what was slept.
void Reset(int64_t tNow = 1700000000);
// Moves the fake time on.
void Advance(int iMs);
// Milliseconds slept through Veru::SleepMs since the last Reset.
int64_t SleptMs();
// Called (outside any lock of the clock) at the start of every SleepMs, with
// the milliseconds asked for; tests use it to act at a given moment. Pass an
// empty function to remove it.
void SetSleepHook(std::function<void(int)> fHook);

}  // namespace FakeClock

#endif  // VERU_TESTS_FAKE_CLOCK_H
