#include "support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>

extern char** environ;

namespace tolvek::testing {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

struct Pipe {
  Descriptor read;
  Descriptor write;
};

bool openPipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  return true;
}

std::vector<std::string> childEnvironment(const RunOptions& options) {
  std::map<std::string, std::string> values;
  std::vector<std::string> order;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    if (std::find(options.removed.begin(), options.removed.end(), name) != options.removed.end()) continue;
    if (values.emplace(name, text).second) order.push_back(name);
  }
  for (const auto& [name, value] : options.environment) {
    if (values.insert_or_assign(name, name + "=" + value).second) order.push_back(name);
  }
  std::vector<std::string> entries;
  for (const std::string& name : order) entries.push_back(values[name]);
  return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(int in, int out, int err, int report, const char* directory, const char* path,
                            char* const* argv, char* const* envp) {
  if (::dup2(in, STDIN_FILENO) >= 0 && ::dup2(out, STDOUT_FILENO) >= 0 && ::dup2(err, STDERR_FILENO) >= 0 &&
      (directory == nullptr || ::chdir(directory) == 0)) {
    // The caller may ignore SIGPIPE; the child starts with the default.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &action, nullptr);
    ::execve(path, argv, envp);
  }
  // The failed call's errno goes to the parent through the report pipe.
  const int error = errno;
  [[maybe_unused]] const ssize_t ignored = ::write(report, &error, sizeof error);
  ::_exit(127);
}

void collect(std::array<pollfd, 2>& fds, std::string* sinks[2], std::chrono::steady_clock::time_point deadline,
             bool& timedOut) {
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      return;
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // end of file; the Descriptor closes it
      }
    }
  }
}

}  // namespace

ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const RunOptions& options) {
  ProcessResult result;
  Pipe out, err, report;
  Descriptor in(::open(options.stdinPath.empty() ? "/dev/null" : options.stdinPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0 || !openPipe(out) || !openPipe(err) || !openPipe(report)) {
    result.startError = errno;
    return result;
  }
  if (options.closedStdout) out.read.reset();

  std::vector<std::string> argvStrings{executable};
  argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envStrings = childEnvironment(options);
  std::vector<char*> argv = pointersTo(argvStrings);
  std::vector<char*> envp = pointersTo(envStrings);
  const char* directory = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  const pid_t pid = ::fork();
  if (pid < 0) {
    result.startError = errno;
    return result;
  }
  if (pid == 0) {
    execChild(in.get(), out.write.get(), err.write.get(), report.write.get(), directory, executable.c_str(),
              argv.data(), envp.data());
  }
  out.write.reset();
  err.write.reset();
  report.write.reset();

  // The report pipe closes on a successful exec and carries errno otherwise.
  int error = 0;
  ssize_t n;
  do {
    n = ::read(report.read.get(), &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof error)) result.startError = error;
  if (result.startError == 0 && options.onStart) options.onStart(pid);

  std::array<pollfd, 2> fds{pollfd{out.read.get(), POLLIN, 0}, pollfd{err.read.get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  collect(fds, sinks, std::chrono::steady_clock::now() + options.timeout, result.timedOut);
  if (result.timedOut) ::kill(pid, SIGKILL);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (result.startError != 0) return result;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status) && !result.timedOut) result.signal = WTERMSIG(status);
  return result;
}

ProcessResult runThisTestBinary(const std::string& filter, const RunOptions& options) {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string self = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
  return runProcess(self, {"--gtest_also_run_disabled_tests", "--gtest_filter=" + filter}, options);
}

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') q += "'\\''"; else q += c;
  }
  return q + "'";
}

}  // namespace tolvek::testing
