#pragma once
// A clock that only moves when a test (or the fake main loop) moves it, so
// waits of minutes take no real time.
#include <atomic>

#include "library/main_loop.h"

namespace tolvek {

class ManualClock final : public Clock {
 public:
  explicit ManualClock(double start = 1'700'000'000.0) : now_(start) {}
  double now() const override { return now_.load(); }
  // Moves forward to `time`; never backwards.
  void advanceTo(double time) {
    double current = now_.load();
    while (current < time && !now_.compare_exchange_weak(current, time)) {
    }
  }

 private:
  std::atomic<double> now_;
};

}  // namespace tolvek
