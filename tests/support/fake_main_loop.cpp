#include "support/fake_main_loop.h"

#include <algorithm>
#include <limits>

namespace tolvek {

void FakeMainLoop::runFor(double seconds) {
  std::vector<std::function<void()>> onMain, onThreads;
  {
    std::lock_guard lock(mutex_);
    ++slices_;
    longestSlice_ = std::max(longestSlice_, seconds);
    const double end = clock_.now() + std::max(seconds, 0.0);
    double earliest = std::numeric_limits<double>::infinity();
    for (const Timed& item : timed_) earliest = std::min(earliest, item.time);
    if (earliest <= end) {
      clock_.advanceTo(earliest);
      // Everything due by now, in the order it was scheduled.
      std::stable_sort(timed_.begin(), timed_.end(),
                       [](const Timed& a, const Timed& b) { return a.order < b.order; });
      std::vector<Timed> later;
      for (Timed& item : timed_) {
        if (item.time <= earliest) {
          (item.onThread ? onThreads : onMain).push_back(std::move(item.work));
        } else {
          later.push_back(std::move(item));
        }
      }
      timed_.swap(later);
    } else {
      clock_.advanceTo(end);
    }
  }
  // Outside the lock: work may schedule more work.
  for (auto& work : onMain) work();
  for (auto& work : onThreads) std::thread(std::move(work)).join();
}

void FakeMainLoop::runUntil(double time, double slice) {
  while (clock_.now() < time) runFor(std::min(slice, time - clock_.now()));
}

}  // namespace tolvek
