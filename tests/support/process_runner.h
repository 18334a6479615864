#pragma once
// Runs a built executable as a child process and captures what it does:
// the bytes on standard output and standard error, and how it ended.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tolvek::testing {

struct RunOptions {
  // Set in the child's environment on top of the caller's (same name: replaced).
  std::vector<std::pair<std::string, std::string>> environment{};
  // Left out of the caller's environment; a name also in `environment` is set.
  std::vector<std::string> removed{};
  // The child's working directory; empty: the caller's.
  std::string workingDirectory{};
  // After this the child is killed (SIGKILL) and the result says timedOut.
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
  // Standard output is a pipe whose reading end is already closed, so every
  // write to it fails with EPIPE (and raises SIGPIPE unless ignored).
  bool closedStdout = false;
  // The child's standard input: this file (empty: /dev/null).
  std::string stdinPath{};
  // Called with the child's process identifier once it runs (on the calling
  // thread, before its output is collected), e.g. to hand it to a thread
  // that signals it.
  std::function<void(pid_t)> onStart{};
};

struct ProcessResult {
  std::string out;   // standard output, every byte
  std::string err;   // standard error, every byte
  int exitStatus = -1;  // the status when the child exited on its own
  int signal = 0;       // the signal that ended it, 0 if none
  bool timedOut = false;
  int startError = 0;  // errno of a failed fork/exec, 0 when it started

  bool exited() const { return startError == 0 && !timedOut && signal == 0; }
};

// Starts `executable` (a path, not searched in PATH) with `arguments` as
// argv[1..], each passed as raw bytes (they cannot hold a NUL byte), and
// standard input from /dev/null. Waits for it to end or time out.
ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const RunOptions& options = {});

// Runs the tests of this very test binary that match `filter` (disabled ones
// included) as a child process: how a test has work done in a process of its
// own. `options.environment` tells the child what to do; an entry test that
// finds no such variable has nothing to do.
ProcessResult runThisTestBinary(const std::string& filter, const RunOptions& options = {});

// `text` quoted for /bin/sh as one word.
std::string quoted(const std::string& text);

}  // namespace tolvek::testing
