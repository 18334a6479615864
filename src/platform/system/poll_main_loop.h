#pragma once
// The main run loop on Linux: GLib's default main context. Threads that
// complete work wake it (wakeMainLoop), so a slice of runFor ends as soon as
// something happened.
#include "library/main_loop.h"

namespace tolvek {

class GLibMainLoop final : public MainLoop {
 public:
  // One slice: blocks in the default context until a source is dispatched,
  // the loop is woken, or `seconds` have passed. Never busy-spins.
  void runFor(double seconds) override;
};

// Ends the current (or next) slice of runFor early; from any thread.
void wakeMainLoop();

}  // namespace tolvek
