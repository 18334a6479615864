// The GLib main loop: a slice lasts its time when nothing happens, ends early
// when another thread wakes it or posts work, runs posted work on the loop's
// thread, and waiting costs next to no CPU.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/glib_main_loop.h"
#include "platform/system_clock.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wakeups left over from earlier tests would end the first slice at once.
void drain(GLibMainLoop& loop) {
  for (int i = 0; i < 5; ++i) loop.runFor(0);
}

TEST(GLibMainLoop, QuietSliceLastsItsTime) {
  GLibMainLoop loop;
  drain(loop);
  const auto start = Steady::now();
  loop.runFor(0.2);
  const auto took = Steady::now() - start;
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 2s);
}

TEST(GLibMainLoop, ZeroOrNegativeSliceDoesNotBlock) {
  GLibMainLoop loop;
  const auto start = Steady::now();
  loop.runFor(0);
  loop.runFor(-3);
  EXPECT_LT(Steady::now() - start, 1s);
}

TEST(GLibMainLoop, WakeFromAnotherThreadEndsTheSliceEarly) {
  GLibMainLoop loop;
  drain(loop);
  std::thread waker([] {
    std::this_thread::sleep_for(50ms);
    wakeMainLoop();
  });
  const auto start = Steady::now();
  loop.runFor(30);
  const auto took = Steady::now() - start;
  waker.join();
  EXPECT_LT(took, 10s);
}

TEST(GLibMainLoop, WaitingDoesNotSpin) {
  GLibMainLoop loop;
  drain(loop);
  const double cpuBefore = cpuSeconds();
  const auto start = Steady::now();
  while (Steady::now() - start < 1s) loop.runFor(0.05);
  // A spinning loop would burn about one second of CPU here.
  EXPECT_LT(cpuSeconds() - cpuBefore, 0.2);
}

TEST(SystemClock, IsTheWallClock) {
  SystemClock clock;
  const double now = clock.now();
  EXPECT_NEAR(now, static_cast<double>(std::time(nullptr)), 2.0);
  std::this_thread::sleep_for(20ms);
  EXPECT_GT(clock.now(), now);
}

}  // namespace
}  // namespace tolvek
