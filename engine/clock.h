// The time seam: the system clock and the millisecond sleep.
//
// Everything in the engine and the console that looks at the time or waits
// goes through these functions. The program links clock.cpp (the real
// clock); the tests link tests/fake_clock.cpp instead, so the 60-second rules
// run in milliseconds. Both functions may be called from any thread.
#ifndef VERU_ENGINE_CLOCK_H
#define VERU_ENGINE_CLOCK_H

#include <atomic>
#include <cstdint>

namespace Veru {

// Seconds since the epoch.
int64_t Now();

// Milliseconds of a steady clock (its start is arbitrary): only the
// difference of two readings means anything.
int64_t NowMs();

// Suspends the calling thread for iMs milliseconds.
void SleepMs(int iMs);

// Sleeps iMs milliseconds, or less when bStop becomes true meanwhile (it is
// looked at every tenth of a second). False when bStop is true at the end.
bool SleepUnless(int iMs, const std::atomic<bool>& bStop);

}  // namespace Veru

#endif  // VERU_ENGINE_CLOCK_H
