#include "library/run_loop_wait.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/in_memory_library.h"

namespace tolvek {
namespace {

using WaitTest = InMemoryLibraryTest;

TEST_F(WaitTest, ConditionAlreadyTrueRunsNoSlice) {
  int tests = 0;
  wait([&] { return ++tests > 0; }, 600, loop, clock);
  EXPECT_EQ(tests, 1);
  EXPECT_EQ(loop.slices(), 0u);
}

TEST_F(WaitTest, ZeroOrNegativeTimeoutTestsOnceAndRunsNoSlice) {
  for (double timeout : {0.0, -1.0, -1e9}) {
    int tests = 0;
    wait([&] { ++tests; return false; }, timeout, loop, clock);
    EXPECT_EQ(tests, 1) << timeout;
  }
  EXPECT_EQ(loop.slices(), 0u);
}

TEST_F(WaitTest, NotANumberTimeoutEndsWithoutSlices) {
  wait([] { return false; }, std::numeric_limits<double>::quiet_NaN(), loop, clock);
  EXPECT_EQ(loop.slices(), 0u);
}

TEST_F(WaitTest, NeverTrueEndsAtTheDeadlineAndAtMostOneSliceLater) {
  const double start = clock.now();
  int tests = 0;
  wait([&] { ++tests; return false; }, 300, loop, clock);
  EXPECT_GE(clock.now(), start + 300);
  EXPECT_LE(clock.now(), start + 300 + kWaitSliceSeconds + 1e-6);
  // Every slice is at most 0.05 s, and the condition was tested after each.
  EXPECT_LE(loop.longestSlice(), kWaitSliceSeconds);
  EXPECT_EQ(static_cast<std::size_t>(tests), loop.slices() + 1);
  EXPECT_GE(loop.slices(), 6000u);
}

TEST_F(WaitTest, EndsInTheSliceThatDeliversTheCompletion) {
  std::atomic<bool> done{false};
  const double start = clock.now();
  loop.scheduleAt(start + 2.5, [&] { done.store(true); });
  wait([&] { return done.load(); }, 600, loop, clock);
  EXPECT_TRUE(done.load());
  EXPECT_NEAR(clock.now(), start + 2.5, 1e-6);
  // Work left for later slices is not run by this wait.
  loop.scheduleAt(start + 1000, [] {});
  EXPECT_EQ(loop.pendingWork(), 1u);
}

TEST_F(WaitTest, CompletionFromAnotherThreadIsSeen) {
  std::atomic<bool> done{false};
  loop.startThreadAt(clock.now() + 1, [&] { done.store(true, std::memory_order_release); });
  wait([&] { return done.load(std::memory_order_acquire); }, 600, loop, clock);
  EXPECT_TRUE(done.load());
}

TEST_F(WaitTest, DeadlineIsComputedOnceAtTheStart) {
  // Work inside a slice that moves the clock far ahead must end the wait,
  // as the deadline is fixed and not pushed back by each slice.
  const double start = clock.now();
  loop.scheduleAt(start + 0.01, [&] { clock.advanceTo(start + 10); });
  wait([] { return false; }, 5, loop, clock);
  EXPECT_NEAR(clock.now(), start + 10, 1e-6);
  EXPECT_EQ(loop.slices(), 1u);
}

TEST_F(WaitTest, CompletionAfterTheDeadlineIsNotWaitedFor) {
  bool done = false;
  const double start = clock.now();
  loop.scheduleAt(start + 601, [&] { done = true; });
  wait([&] { return done; }, 600, loop, clock);
  EXPECT_FALSE(done);
  EXPECT_LT(clock.now(), start + 601);
}

}  // namespace
}  // namespace tolvek
