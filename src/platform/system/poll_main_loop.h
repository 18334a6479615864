#pragma once
// The main run loop on Linux: poll(2) on one eventfd. Threads that complete
// work wake it (wakeMainLoop), so a slice of runFor ends as soon as
// something happened. Nothing else is ever dispatched on it: completions run
// on their own threads and the main thread tests its conditions after each
// slice (library/run_loop_wait.h).
#include "library/main_loop.h"

namespace tolvek {

class PollMainLoop final : public MainLoop {
 public:
  // One slice: blocks until the loop is woken or `seconds` have passed, and
  // takes the wakeup. A zero or negative slice only takes a pending wakeup.
  // Never busy-spins.
  void runFor(double seconds) override;
};

// Ends the current (or next) slice of runFor early; from any thread. Wakeups
// before a slice add up to one.
void wakeMainLoop();

}  // namespace tolvek
