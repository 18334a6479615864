#pragma once
// A clock that only moves when a test (or the fake main loop) moves it, so
// waits of minutes take no real time, and a main loop on it. runFor(s) fires the work that falls due
// within the slice (moving the clock to it) and returns early after it, like
// a real loop that has handled an event; with nothing due it moves the clock
// by the whole slice. No real time passes.
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

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

// When a fake completion (a consent answer, a resource write) is delivered:
// before the call that starts it returns, in a later slice of the fake main
// loop, from a thread of its own, or never.
enum class When { beforeReturn, duringSlice, fromThread, never };

class FakeMainLoop final : public MainLoop {
 public:
  explicit FakeMainLoop(ManualClock& clock) : clock_(clock) {}
  ~FakeMainLoop() override = default;
  FakeMainLoop(const FakeMainLoop&) = delete;
  FakeMainLoop& operator=(const FakeMainLoop&) = delete;

  // Runs `work` on the main thread in the slice during which the clock
  // reaches `time` (the next slice when `time` has passed).
  void scheduleAt(double time, std::function<void()> work) { schedule(time, std::move(work), false); }
  // Runs `work` on a thread of its own once the clock reaches `time`; the
  // slice that starts it ends when the thread has finished, as a real loop is
  // woken by the completion it delivers.
  void startThreadAt(double time, std::function<void()> work) { schedule(time, std::move(work), true); }
  // Runs `work` as `when` says, `delay` fake seconds from now (never: drops it).
  void deliver(When when, double delay, std::function<void()> work) {
    if (when == When::beforeReturn) work();
    if (when == When::duringSlice || when == When::fromThread)
      schedule(clock_.now() + delay, std::move(work), when == When::fromThread);
  }

  void runFor(double seconds) override;
  // Runs slices of `slice` seconds until the clock has reached `time`.
  void runUntil(double time, double slice = 0.05);

  ManualClock& clock() { return clock_; }
  std::size_t slices() const { return locked(slices_); }
  double longestSlice() const { return locked(longestSlice_); }
  // Work scheduled that has not run yet.
  std::size_t pendingWork() const {
    std::lock_guard lock(mutex_);
    return timed_.size();
  }

 private:
  struct Timed {
    double time;
    std::size_t order;
    std::function<void()> work;
    bool onThread;
  };

  void schedule(double time, std::function<void()> work, bool onThread) {
    std::lock_guard lock(mutex_);
    timed_.push_back({time, nextOrder_++, std::move(work), onThread});
  }
  template <class T>
  T locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }

  ManualClock& clock_;
  mutable std::mutex mutex_;
  std::vector<Timed> timed_;
  std::size_t nextOrder_ = 0;
  std::size_t slices_ = 0;
  double longestSlice_ = 0;
};

}  // namespace tolvek
