#include "platform/consent_prompt.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tolvek {
namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

bool hasGraphicalSession() { return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"); }

AuthorizationStatus askWithZenity(const std::string& usageDescription) {
  gchar* found = g_find_program_in_path("zenity");
  if (found == nullptr) return kStatusNotDetermined;
  const std::string program(found);
  g_free(found);

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
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return kStatusNotDetermined;
  // Everything the child needs is prepared above: after fork it only makes
  // async-signal-safe calls.
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the helper is already gone
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(devNull);
  if (child < 0) return kStatusNotDetermined;

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return kStatusNotDetermined;
  }
  if (!WIFEXITED(status)) return kStatusNotDetermined;
  switch (WEXITSTATUS(status)) {
    case 0:
      return kStatusAuthorized;
    case 1:
      return kStatusDenied;
    default:
      return kStatusNotDetermined;
  }
}

PromptLock::PromptLock(const std::string& path) {
  gchar* folder = g_path_get_dirname(path.c_str());
  g_mkdir_with_parents(folder, 0700);
  g_free(folder);
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
