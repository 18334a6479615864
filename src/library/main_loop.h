#pragma once
// The main thread's run loop and the wall clock that waits measure against.

namespace tolvek {

class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Runs the work pending for the main thread for at most `seconds`; may
  // return earlier once it has handled an event. Never busy-spins.
  virtual void runFor(double seconds) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall-clock time in seconds.
  virtual double now() const = 0;
};

}  // namespace tolvek
