#include "platform/posix/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include "platform/posix/path_text.h"
#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

// The registry is a fixed table so that a signal handler can walk it without
// taking a lock or allocating: a slot is claimed (free -> filling), its path
// copied in, then marked in use with release ordering; the handler only reads
// slots in use. Zero-initialised static storage (constinit: no code runs at
// start-up), with the states apart from the paths, so a scan of the states
// touches one page and a path's page is touched only once it is used.
constexpr int kSlots = 256;
constexpr std::size_t kMaxPath = 4096;
enum SlotState : int { kFree = 0, kFilling = 1, kInUse = 2 };

constinit std::atomic<int> gStates[kSlots]{};
constinit char gPaths[kSlots][kMaxPath]{};

int claimSlot(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gStates[i].compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) continue;
    std::memcpy(gPaths[i], path.c_str(), path.size() + 1);
    gStates[i].store(kInUse, std::memory_order_release);
    return i;
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot >= 0) gStates[slot].store(kFree, std::memory_order_release);
}

// Async-signal-safe: only unlink.
void removeRegistered() {
  for (int i = 0; i < kSlots; ++i) {
    if (gStates[i].load(std::memory_order_acquire) == kInUse) ::unlink(gPaths[i]);
  }
}

extern "C" void removeAtExit() { removeRegistered(); }

extern "C" void removeAndDie(int signal) {
  const int saved = errno;
  removeRegistered();
  // The default action, so whoever started the process sees it end by this
  // signal. The signal is blocked inside the handler: it arrives on return.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
  errno = saved;
}

constexpr char kPrefix[] = ".tolvek-";
constexpr char kSuffix[] = ".partial";

std::string temporaryName() {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937 random{std::random_device{}()};
  return std::string(kPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(random() % 1000000) + kSuffix;
}

// The writer's process identifier, when `name` is one of our temporary names.
pid_t writerOf(const char* name) {
  if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return 0;
  const std::size_t length = std::strlen(name);
  if (length <= sizeof kPrefix - 1 + sizeof kSuffix - 1 ||
      std::strcmp(name + length - (sizeof kSuffix - 1), kSuffix) != 0)
    return 0;
  const char* at = name + sizeof kPrefix - 1;
  long pid = 0;
  int fields = 0;
  bool digits = false;
  for (const char* c = at; c < name + length - (sizeof kSuffix - 1); ++c) {
    if (*c >= '0' && *c <= '9') {
      if (fields == 0 && pid < 100'000'000) pid = pid * 10 + (*c - '0');
      digits = true;
    } else if (*c == '-' && digits) {
      ++fields;
      digits = false;
    } else {
      return 0;
    }
  }
  return fields == 2 && digits && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// Renames `from` to `to` unless something is at `to`.
int renameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing
  // name just the same.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
  // Nor links (FAT, some FUSE): reserve the name, then rename onto it.
  const int placeholder = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (placeholder < 0) return errno;
  ::close(placeholder);
  if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
  const int code = errno;
  ::unlink(to.c_str());
  return code;
}

}  // namespace

void installTemporaryFileCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::atexit(removeAtExit);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
      struct sigaction previous {};
      if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = removeAndDie;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

void removeAbandonedTemporaryFiles(const std::string& folder) {
  const int dirFd = ::open(folder.empty() ? "." : folder.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (dirFd < 0) return;
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t writer = writerOf(entry->d_name);
    if (writer <= 0 || writer == ::getpid()) continue;
    if (::kill(writer, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
    ::unlinkat(dirFd, entry->d_name, 0);  // a file or a link itself, never a folder
  }
  ::closedir(dir);
}

Result<TemporaryFile> TemporaryFile::createIn(const std::string& folder, mode_t mode) {
  const std::string prefix = folder.empty() ? std::string() : folder.back() == '/' ? folder : folder + "/";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = prefix + temporaryName();
    // Registered before it exists, so no moment passes with an unlisted file.
    const int slot = claimSlot(path);
    if (slot < 0) return errorStatus(path.size() >= kMaxPath ? ENAMETOOLONG : EMFILE);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return TemporaryFile(fd, std::move(path), slot);
    const int code = errno;
    releaseSlot(slot);
    if (code != EEXIST) return errorStatus(code);
  }
  return errorStatus(EEXIST);
}

Result<TemporaryFile> TemporaryFile::createBeside(const std::string& path, mode_t mode) {
  // A file at the top is beside "/", whose folder part is empty as a bare
  // name's is.
  const std::string_view folder = folderPart(path);
  return createIn(folder.empty() && path.starts_with('/') ? std::string("/") : std::string(folder), mode);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), slot_(std::exchange(other.slot_, -1)) {}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    discard();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

TemporaryFile::~TemporaryFile() { discard(); }

void TemporaryFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (slot_ >= 0) {
    ::unlink(path_.c_str());
    releaseSlot(slot_);
    slot_ = -1;
  }
}

Status TemporaryFile::publish(const std::string& path, Publish mode) {
  if (slot_ < 0) return errorStatus(EBADF);
  int code = 0;
  if (::close(fd_) != 0) code = errno;
  fd_ = -1;
  if (code == 0) {
    if (mode == Publish::replace) {
      // rename replaces a file or link at `path` itself, never what a link names.
      if (std::rename(path_.c_str(), path.c_str()) != 0) code = errno;
    } else {
      code = renameWithoutReplacing(path_, path);
    }
  }
  if (code != 0) {
    discard();
    if (code == EEXIST) return Status::error("A file already exists at " + path);
    return errorStatus(code);
  }
  releaseSlot(slot_);
  slot_ = -1;
  return {};
}

Status writeFileAtomically(const std::string& path, std::string_view bytes, Publish mode, mode_t fileMode) {
  if (path.empty()) return errorStatus(ENOENT);
  auto file = TemporaryFile::createBeside(path, fileMode);
  if (!file) return file.status();
  if (Status written = writeAll(file->fd(), bytes); !written) return written;
  return file->publish(path, mode);
}

}  // namespace tolvek
