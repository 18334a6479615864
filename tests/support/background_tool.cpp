#include "support/background_tool.h"

#include <signal.h>

namespace tolvek::testing {

BackgroundTool::BackgroundTool(const ScratchLibrary& library, const std::vector<std::string>& arguments) {
  static int count = 0;
  errorsPath_ = library.root() + "/background-" + std::to_string(++count) + ".err";
  // The shell's exec makes the tool the child whose identifier is given.
  std::string command = "exec " + testing::quoted(library.toolPath());
  for (const std::string& a : arguments) command += " " + testing::quoted(a);
  command += " 2>" + testing::quoted(errorsPath_);
  RunOptions options = library.toolOptions(std::chrono::minutes(10));
  std::promise<pid_t> started;
  std::future<pid_t> pid = started.get_future();
  options.onStart = [&started](pid_t child) { started.set_value(child); };
  result_ = std::async(std::launch::async,
                       [command, options] { return runProcess("/bin/sh", {"-c", command}, options); });
  if (pid.wait_for(std::chrono::seconds(30)) == std::future_status::ready) pid_ = pid.get();
}

BackgroundTool::~BackgroundTool() {
  if (!stopped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    result_.wait();
  }
}

bool BackgroundTool::ended() const { return result_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }

ProcessResult BackgroundTool::stop(int signal) {
  stopped_ = true;
  if (pid_ <= 0 || ended()) return result_.get();
  ::kill(pid_, signal);
  if (result_.wait_for(std::chrono::seconds(30)) != std::future_status::ready) ::kill(pid_, SIGKILL);
  return result_.get();
}

std::string BackgroundTool::errors() const { return readFileBytes(errorsPath_).value_or(""); }

bool eventually(const std::function<bool()>& check, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (check()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::multimap<std::string, std::string> listedByName(const ScratchLibrary& library) {
  const ProcessResult result = library.helper({"list", "-", "100000"});
  std::multimap<std::string, std::string> listed;
  const Json document = Json::parse(result.out, nullptr, false);
  if (!document.is_object() || !document.contains("items")) return listed;
  for (const Json& item : document["items"]) listed.emplace(item["name"].get<std::string>(), item["id"].get<std::string>());
  return listed;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

}  // namespace tolvek::testing
