#include "platform/access/consent_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// How long one wait for output lasts before the child is looked at again:
// a child that exits while something it started keeps the pipe open is
// noticed within this time.
constexpr int kPollMilliseconds = 100;

// Waits for `child` to end while reading `fd` (its standard error) into
// `kept`, at most `cap` bytes; the rest is read and dropped, so the child
// never blocks on a full pipe. Stops reading at end of file, or once the
// child has ended and nothing more is waiting. The wait status, or nothing
// when waiting failed.
std::optional<int> waitCollecting(pid_t child, int fd, std::size_t cap, std::string& kept) {
  char buffer[4096];
  // False at end of file or on an error.
  auto readSome = [&]() {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      const std::size_t room = cap - std::min(cap, kept.size());
      kept.append(buffer, std::min(room, static_cast<std::size_t>(got)));
      return true;
    }
    return got < 0 && errno == EINTR;
  };
  bool open = true;
  int status = 0;
  while (open) {
    pollfd ready{fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, kPollMilliseconds);
    if (n > 0) {
      open = readSome();
      continue;
    }
    if (n < 0 && errno != EINTR) break;
    const pid_t waited = ::waitpid(child, &status, WNOHANG);
    if (waited < 0 && errno != EINTR) return std::nullopt;
    if (waited == child) {
      // Ended while something it started may hold the pipe: take what is
      // already written and stop.
      while (::poll(&ready, 1, 0) > 0 && readSome()) {
      }
      return status;
    }
  }
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  return status;
}

}  // namespace

bool hasGraphicalSession() { return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"); }

PromptAnswer promptAnswerFrom(int waitStatus, std::string_view standardError) {
  if (!WIFEXITED(waitStatus)) return PromptAnswer::notShown;
  switch (WEXITSTATUS(waitStatus)) {
    case 0:
      return PromptAnswer::allowed;
    case 1:
      for (const std::string_view failure : {"cannot open display", "Failed to open display"}) {
        if (standardError.find(failure) != std::string_view::npos) return PromptAnswer::notShown;
      }
      return PromptAnswer::refused;
    default:
      return PromptAnswer::notShown;
  }
}

// The first executable file named `name` in the folders of $PATH (without
// it "/bin:/usr/bin:."; an empty folder is the working folder), as GLib's
// g_find_program_in_path finds it.
std::optional<std::string> programInPath(const std::string& name) {
  const char* variable = std::getenv("PATH");
  std::string_view folders = variable != nullptr ? variable : "/bin:/usr/bin:.";
  while (true) {
    const std::size_t colon = std::min(folders.find(':'), folders.size());
    const std::string_view folder = folders.substr(0, colon);
    const std::string candidate = folder.empty() ? name : std::string(folder) + "/" + name;
    struct stat info {};
    if (::access(candidate.c_str(), X_OK) == 0 && ::stat(candidate.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      return candidate;
    }
    if (colon == folders.size()) return std::nullopt;
    folders.remove_prefix(colon + 1);
  }
}

PromptAnswer askWithZenity(const std::string& usageDescription) {
  const std::optional<std::string> found = programInPath("zenity");
  if (!found) return PromptAnswer::notShown;
  const std::string program = *found;

  const std::string text = "--text=" + usageDescription;
  std::vector<std::string> arguments = {program,
                                        "--question",
                                        "--title=tolvek-photos",
                                        text,
                                        "--ok-label=Allow",
                                        "--cancel-label=Don't Allow",
                                        "--timeout=300"};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  Descriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  int errorPipe[2];
  if (devNull.get() < 0 || ::pipe2(errorPipe, O_CLOEXEC) != 0) return PromptAnswer::notShown;
  Descriptor errorRead(errorPipe[0]);
  Descriptor errorWrite(errorPipe[1]);
  // Everything the child needs is prepared above: after fork it only makes
  // async-signal-safe calls.
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the helper is already gone
    dup2(devNull.get(), STDIN_FILENO);
    dup2(devNull.get(), STDOUT_FILENO);
    dup2(errorWrite.get(), STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  errorWrite.reset();
  if (child < 0) return PromptAnswer::notShown;

  std::string standardError;
  const std::optional<int> status = waitCollecting(child, errorRead.get(), kPromptErrorCap, standardError);
  if (!status) return PromptAnswer::notShown;
  // execv failing (not executable, gone meanwhile) ends the child with 127.
  return promptAnswerFrom(*status, standardError);
}

PromptLock::PromptLock(const std::string& path) {
  makeFolders(std::string(folderPart(path)), 0700);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

PromptLock::~PromptLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tolvek
