#pragma once
// The library tool running in the background (watch) while a test changes
// files, and waiting on what the helper then answers.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/process_runner.h"
#include "support/scratch_library.h"

namespace tolvek::testing {

class BackgroundTool {
 public:
  // Starts the library tool of `library` with `arguments`, its standard
  // error going to a file that errors() reads as it grows; it runs until
  // stop() (or the end of the object, which kills it).
  BackgroundTool(const ScratchLibrary& library, const std::vector<std::string>& arguments);
  ~BackgroundTool();
  BackgroundTool(const BackgroundTool&) = delete;
  BackgroundTool& operator=(const BackgroundTool&) = delete;

  pid_t pid() const { return pid_; }
  // What it wrote to standard error so far.
  std::string errors() const;
  // True once it ended by itself (stop() then gives how).
  bool ended() const;
  // Sends `signal` and gives how the tool ended (killed after 30 s).
  ProcessResult stop(int signal = SIGTERM);

 private:
  std::string errorsPath_;
  pid_t pid_ = -1;
  std::future<ProcessResult> result_;
  bool stopped_ = false;
};

// Asks `check` every 50 ms until it answers true (true) or `deadline` passed
// (false).
bool eventually(const std::function<bool()>& check, std::chrono::milliseconds deadline = std::chrono::seconds(30));

// How many times `what` occurs in `text` (lines of a tool's output).
std::size_t occurrences(const std::string& text, const std::string& what);

// What the helper lists of the whole library: each item's name and identifier.
std::multimap<std::string, std::string> listedByName(const ScratchLibrary& library);

}  // namespace tolvek::testing
