#pragma once

#include <functional>

namespace vx {

// How long a test waits for something to happen, unless it states a limit that users would
// notice: a bound for a busy machine, not a measurement.
inline constexpr int kWaitLimitMs = 15000;

// Runs this thread's events (timers, sockets, child processes) until done() holds, and looks
// at done() at least every 10 ms; false when limitMs passed first. A thread without an event
// loop only polls.
bool WaitFor(const std::function<bool()>& done, int limitMs = kWaitLimitMs);

// Runs this thread's events for ms milliseconds: for checks that something does not happen.
void RunEventsFor(int ms);

}  // namespace vx
