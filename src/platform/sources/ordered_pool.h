#pragma once
// OrderedPool runs `work(i)` for i in [0, count) on up to two worker threads,
// at most kWindow items ahead of the caller, who takes the results in order
// with take(). The work function runs on the workers and must only touch
// what is safe to share; results move to the caller's thread. The pool owns
// its threads: its destructor stops them after their current item and joins
// them, so a caller that leaves early waits for at most two items.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "platform/system/mutex.h"

namespace tolvek {

template <class Result>
class OrderedPool {
 public:
  using Clock = std::chrono::steady_clock;

  OrderedPool(std::size_t count, std::function<Result(std::size_t)> work)
      : work_(std::move(work)), results_(count), ready_(count) {
    const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < cores && count > 0; ++i) threads_.emplace_back([this] { run(); });
  }
  ~OrderedPool() {
    {
      MutexLock lock(mutex_);
      stopping_ = true;
    }
    changed_.notifyAll();
    for (std::thread& t : threads_) t.join();
  }
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // Whether result `i` is ready, waiting for it until `until` at most.
  bool readyBy(std::size_t i, Clock::time_point until) {
    MutexLock lock(mutex_);
    while (ready_[i] == 0) {
      if (Clock::now() >= until) return false;
      changed_.waitUntil(mutex_, until);
    }
    return true;
  }
  Result take(std::size_t i) {
    MutexLock lock(mutex_);
    while (ready_[i] == 0) changed_.wait(mutex_);
    taken_ = i + 1;
    changed_.notifyAll();
    return std::move(results_[i]);
  }

 private:
  static constexpr std::size_t kWindow = 16;

  void run() {
    for (;;) {
      std::size_t i = 0;
      {
        MutexLock lock(mutex_);
        while (!stopping_ && next_ >= taken_ + kWindow) changed_.wait(mutex_);
        if (stopping_ || next_ >= results_.size()) return;
        i = next_++;
      }
      Result result = work_(i);
      {
        MutexLock lock(mutex_);
        results_[i] = std::move(result);
        ready_[i] = 1;
      }
      changed_.notifyAll();
    }
  }

  const std::function<Result(std::size_t)> work_;
  Mutex mutex_;
  CondVar changed_;
  std::vector<Result> results_ GUARDED_BY(mutex_);
  std::vector<char> ready_ GUARDED_BY(mutex_);
  std::size_t next_ GUARDED_BY(mutex_) = 0;
  std::size_t taken_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;  // joined by the destructor
};

}  // namespace tolvek
