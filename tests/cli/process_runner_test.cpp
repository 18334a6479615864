#include "support/process_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <string>

namespace tolvek::testing {
namespace {

TEST(ProcessRunner, CapturesBothStreamsAndTheExitStatus) {
  const ProcessResult result = runProcess("/bin/sh", {"-c", "printf out; printf err >&2; exit 7"});
  ASSERT_TRUE(result.exited());
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err");
  EXPECT_EQ(result.exitStatus, 7);
}

TEST(ProcessRunner, PassesArgumentsAsRawBytes) {
  const std::string invalid = "\xFF\xC3 \"q\" \\ \n";
  const std::string large(131071, 'a');
  const ProcessResult result = runProcess("/usr/bin/printf", {"%s|%s|%s", invalid, "", large});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, invalid + "||" + large);
}

TEST(ProcessRunner, SetsEnvironmentAndWorkingDirectory) {
  RunOptions options;
  options.environment = {{"TOLVEK_RUNNER_PROBE", "a b"}, {"HOME", "/nonexistent-home"}};
  options.workingDirectory = "/";
  const ProcessResult result =
      runProcess("/bin/sh", {"-c", "printf '%s|%s|%s' \"$TOLVEK_RUNNER_PROBE\" \"$HOME\" \"$(pwd)\""}, options);
  EXPECT_EQ(result.out, "a b|/nonexistent-home|/");
}

TEST(ProcessRunner, RemovesVariablesUnlessTheyAreSetAgain) {
  ASSERT_EQ(::setenv("TOLVEK_RUNNER_GONE", "inherited", 1), 0);
  ASSERT_EQ(::setenv("TOLVEK_RUNNER_BACK", "inherited", 1), 0);
  RunOptions options;
  options.removed = {"TOLVEK_RUNNER_GONE", "TOLVEK_RUNNER_BACK"};
  options.environment = {{"TOLVEK_RUNNER_BACK", "set"}};
  const ProcessResult result = runProcess(
      "/bin/sh", {"-c", "printf '%s|%s' \"${TOLVEK_RUNNER_GONE-unset}\" \"${TOLVEK_RUNNER_BACK-unset}\""}, options);
  ::unsetenv("TOLVEK_RUNNER_GONE");
  ::unsetenv("TOLVEK_RUNNER_BACK");
  EXPECT_EQ(result.out, "unset|set");
}

TEST(ProcessRunner, KillsAChildThatOutlivesTheTimeout) {
  RunOptions options;
  options.timeout = std::chrono::milliseconds(200);
  const ProcessResult result = runProcess("/bin/sh", {"-c", "printf started; exec sleep 30"}, options);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.exited());
  EXPECT_EQ(result.out, "started");
}

TEST(ProcessRunner, ReportsSignalsAndStartFailures) {
  const ProcessResult killed = runProcess("/bin/sh", {"-c", "kill -TERM $$"});
  EXPECT_EQ(killed.signal, SIGTERM);
  EXPECT_FALSE(killed.exited());

  const ProcessResult missing = runProcess("/nonexistent/program", {});
  EXPECT_EQ(missing.startError, ENOENT);
  EXPECT_FALSE(missing.exited());
}

TEST(ProcessRunner, AClosedStandardOutputRaisesSigpipeInTheChildEvenWhenTheCallerIgnoresIt) {
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
  RunOptions options;
  options.closedStdout = true;
  const ProcessResult result = runProcess("/usr/bin/printf", {"x"}, options);
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ(result.signal, SIGPIPE);
}

}  // namespace
}  // namespace tolvek::testing
