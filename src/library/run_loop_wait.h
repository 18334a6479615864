#pragma once
// The one way the program waits for an asynchronous completion: it keeps the
// main loop running in short slices until a condition holds or time is up.
#include <functional>

#include "library/main_loop.h"

namespace tolvek {

// Longest single run of the main loop inside a wait.
inline constexpr double kWaitSliceSeconds = 0.05;

// Tests `until` (on the calling thread) before the first slice and after
// every slice, and the clock before every slice; returns as soon as `until`
// holds or `clock` has reached the deadline `timeout` seconds from the call.
// A zero or negative timeout runs no slice. The caller tests its condition
// again afterwards if it needs to know which of the two ended the wait.
void wait(const std::function<bool()>& until, double timeout, MainLoop& mainLoop, const Clock& clock);

}  // namespace tolvek
