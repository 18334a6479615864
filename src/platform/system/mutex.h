#pragma once
// A mutex, its scoped lock and a condition variable that clang's thread
// safety analysis understands (-Wthread-safety in the clang build): a field
// read or written by several threads is declared GUARDED_BY(itsMutex), and
// a function that expects the mutex held REQUIRES(itsMutex). libstdc++'s
// std::mutex carries no such annotations, so these wrap it. Other compilers
// see plain std::mutex and std::condition_variable.
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TOLVEK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TOLVEK_THREAD_ANNOTATION(x)
#endif
#define CAPABILITY(x) TOLVEK_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY TOLVEK_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) TOLVEK_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) TOLVEK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) TOLVEK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) TOLVEK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TOLVEK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace tolvek {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to destruction.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Waits with `mutex` held, which it lets go of while waiting.
class CondVar {
 public:
  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    changed_.wait(held);
    held.release();
  }
  template <class Clock, class Duration>
  void waitUntil(Mutex& mutex, std::chrono::time_point<Clock, Duration> until) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    changed_.wait_until(held, until);
    held.release();
  }
  void notifyAll() { changed_.notify_all(); }
  void notifyOne() { changed_.notify_one(); }

 private:
  std::condition_variable changed_;
};

}  // namespace tolvek
