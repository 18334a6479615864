// The access gate, and the run-loop wait it (like every wait for a
// completion) is built on.
#include "library/access_gate.h"

#include <gtest/gtest.h>

#include <atomic>

#include "library/run_loop_wait.h"
#include "support/in_memory_library.h"

namespace tolvek {
namespace {

using enum AuthorizationStatus;
using enum When;

// A library with nothing recorded that answers the question with `answer`,
// on a clock and main loop of its own.
struct Asking {
  explicit Asking(ConsentAnswer answer) {
    library.setStatus(notDetermined);
    library.setConsentAnswer(answer);
  }
  bool gate() { return ensureAccess(library, loop, clock); }

  ManualClock clock;
  FakeMainLoop loop{clock};
  InMemoryLibrary library{loop};
};

struct GateTest : InMemoryLibraryTest {
  bool gate() { return ensureAccess(library, loop, clock); }
};

TEST_F(GateTest, RecordedStatusDecidesWithoutAskingOrWaiting) {
  const struct {
    AuthorizationStatus status;
    bool allowed;
  } cases[] = {{authorized, true},
               {limited, true},
               {restricted, false},
               {denied, false},
               {static_cast<AuthorizationStatus>(5), false},
               {static_cast<AuthorizationStatus>(-1), false},
               {static_cast<AuthorizationStatus>(std::numeric_limits<std::int64_t>::max()), false}};
  for (const auto& c : cases) {
    library.setStatus(c.status);
    EXPECT_EQ(gate(), c.allowed) << "status " << c.status;
  }
  EXPECT_EQ(library.calls().requests, 0u);
  EXPECT_EQ(loop.slices(), 0u);
  EXPECT_EQ(library.calls().statusReads, std::size(cases));
}

TEST_F(GateTest, NotDeterminedAsksOnceAndFollowsTheAnswer) {
  const struct {
    ConsentAnswer::When when;
    AuthorizationStatus answer;
    bool allowed;
  } cases[] = {
      {duringSlice, authorized, true}, {duringSlice, limited, true},
      {duringSlice, denied, false},    {duringSlice, notDetermined, false},  // no prompt possible
      {fromThread, authorized, true},  {fromThread, limited, true},
      {fromThread, denied, false},     {fromThread, restricted, false},
  };
  for (const auto& c : cases) {
    Asking asking({c.when, c.answer, 12.0});
    const double start = asking.clock.now();
    EXPECT_EQ(asking.gate(), c.allowed) << "answer " << c.answer;
    EXPECT_EQ(asking.library.calls().requests, 1u);
    // The gate returns in the slice that delivered the answer.
    EXPECT_NEAR(asking.clock.now(), start + 12.0, 1e-6) << "answer " << c.answer;
  }
}

TEST_F(GateTest, AnswerBeforeTheRequestReturnsRunsNoSlice) {
  for (const auto& [answer, allowed] : {std::pair{authorized, true}, std::pair{denied, false}}) {
    Asking asking({beforeReturn, answer, 0});
    EXPECT_EQ(asking.gate(), allowed) << "answer " << answer;
    EXPECT_EQ(asking.loop.slices(), 0u);
  }
}

TEST_F(GateTest, NoAnswerFailsAfterThreeHundredSecondsAtMostOneSliceLater) {
  Asking asking({never, authorized, 0});
  const double start = asking.clock.now();
  EXPECT_FALSE(asking.gate());
  EXPECT_GE(asking.clock.now(), start + kConsentTimeoutSeconds);
  EXPECT_LE(asking.clock.now(), start + kConsentTimeoutSeconds + 0.05 + 1e-6);
  EXPECT_LE(asking.loop.longestSlice(), 0.05);
  EXPECT_EQ(asking.library.heldHandlers(), 1u);
}

TEST_F(GateTest, LateAnswerWritesIntoCellsThatOutliveTheGate) {
  // Delivered after the deadline: the gate has failed already; the late
  // handler must still find its cells alive (AddressSanitizer would report a
  // write into a dead frame).
  for (auto when : {duringSlice, fromThread}) {
    Asking asking({when, authorized, 400});
    EXPECT_FALSE(asking.gate());
    EXPECT_EQ(asking.loop.pendingWork(), 1u);
    asking.loop.runUntil(asking.clock.now() + 200);
    EXPECT_EQ(asking.loop.pendingWork(), 0u);
    // The answer was recorded by the platform: the next run asks nothing.
    EXPECT_TRUE(asking.gate());
    EXPECT_EQ(asking.library.calls().requests, 1u);
  }
}

TEST_F(GateTest, AnswerJustBeforeTheDeadlineCounts) {
  EXPECT_TRUE(Asking({duringSlice, limited, kConsentTimeoutSeconds - 0.01}).gate());
}

TEST_F(GateTest, SecondRunAfterAGrantDoesNotAskAgain) {
  for (const auto& [answer, allowed] : {std::pair{authorized, true}, std::pair{denied, false}}) {
    Asking asking({duringSlice, answer, 3});
    EXPECT_EQ(asking.gate(), allowed) << "answer " << answer;
    EXPECT_EQ(asking.gate(), allowed) << "answer " << answer;
    EXPECT_EQ(asking.library.calls().requests, 1u);
  }
}

struct WaitTest : InMemoryLibraryTest {
  // A condition that never holds; `tests` counts how often it was tested.
  bool neverTrue() {
    ++tests;
    return false;
  }
  int tests = 0;
};

TEST_F(WaitTest, ConditionAlreadyTrueRunsNoSlice) {
  wait([&] { return ++tests > 0; }, 600, loop, clock);
  EXPECT_EQ(tests, 1);
  EXPECT_EQ(loop.slices(), 0u);
}

TEST_F(WaitTest, ZeroOrNegativeTimeoutTestsOnceAndRunsNoSlice) {
  for (double timeout : {0.0, -1.0, -1e9}) {
    tests = 0;
    wait([this] { return neverTrue(); }, timeout, loop, clock);
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
  wait([this] { return neverTrue(); }, 300, loop, clock);
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
