#include "platform/posix/posix_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace tolvek {

std::string errorText(int code) { return std::strerror(code); }

std::int64_t modifiedNsOf(const struct stat& info) {
  return std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

Status errorStatus(int code) {
  const ErrorCode kind = code == ENOENT ? ErrorCode::notFound : code == ENOSPC ? ErrorCode::noSpace : ErrorCode::other;
  return Status::error(errorText(code), kind);
}

Status writeAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errorStatus(errno);
    if (n == 0) return errorStatus(ENOSPC);
    written += static_cast<std::size_t>(n);
  }
  return {};
}

Result<ReadableFile> ReadableFile::open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever.
  return adopt(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

Result<ReadableFile> ReadableFile::openBelow(const std::string& root, std::string_view relative) {
  // Each folder step is opened from the one before with O_NOFOLLOW, so a
  // link anywhere below `root` is refused rather than resolved; O_PATH needs
  // no read permission, as a path lookup needs none.
  int folder = ::open(root.empty() ? "/" : root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errorStatus(errno);
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = std::min(relative.find('/', start), relative.size());
    const std::string step(relative.substr(start, slash - start));
    const bool last = slash == relative.size();
    if (step == "." || step == ".." || (last && step.empty())) {
      ::close(folder);
      return errorStatus(step.empty() ? EISDIR : EACCES);
    }
    if (last) {
      const int fd = ::openat(folder, step.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
      const int code = errno;
      ::close(folder);
      if (fd < 0 && code == ELOOP) return Status::error(kLinkNotFollowed);
      errno = code;
      return adopt(fd);
    }
    if (!step.empty()) {
      const int next = ::openat(folder, step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int code = errno;
      ::close(folder);
      if (next < 0) {
        // A link opened with O_PATH | O_NOFOLLOW is the link itself, which
        // O_DIRECTORY refuses: tell it from a file that is no folder.
        struct stat info {};
        const std::string parent = std::string(root) + "/" + std::string(relative.substr(0, slash));
        if (code == ENOTDIR && ::lstat(parent.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
          return Status::error(kLinkNotFollowed);
        return errorStatus(code);
      }
      folder = next;
    }
    start = slash + 1;
  }
}

Result<ReadableFile> ReadableFile::adopt(int fd) {
  if (fd < 0) return errorStatus(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int code = errno;
    ::close(fd);
    return errorStatus(code);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Status::error(S_ISDIR(info.st_mode) ? errorText(EISDIR) : kNotARegularFile);
  }
  // Regular files never block; clearing the flag keeps later readers (FFmpeg,
  // libvips) from seeing EAGAIN on file systems that honour it.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const FileIdentity identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                              modifiedNsOf(info)};
  return ReadableFile(fd, static_cast<std::uint64_t>(info.st_size), identity);
}

std::string ReadableFile::openedName(const std::string& path) const {
  static const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  return proc ? "/proc/self/fd/" + std::to_string(fd_) : path;
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), identity_(other.identity_) {}

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    identity_ = other.identity_;
  }
  return *this;
}

ReadableFile::~ReadableFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string> ReadableFile::read(std::uint64_t maxBytes) const {
  const std::uint64_t want = std::min(size_, maxBytes);
  std::string bytes(static_cast<std::size_t>(want), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::pread(fd_, bytes.data() + filled, bytes.size() - filled, static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errorStatus(errno);
    if (got == 0) break;  // shrunk since it was opened
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

Result<std::string> readRegularFile(const std::string& path, std::uint64_t maxBytes) {
  auto file = ReadableFile::open(path);
  if (!file) return file.status();
  if (file->size() > maxBytes) return Status::error(errorText(EFBIG));
  return file->read(maxBytes);
}

Result<std::string> readUntilEnd(int fd, std::uint64_t maxBytes) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errorStatus(errno);
    if (got == 0) return bytes;
    if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) return Status::error(errorText(EFBIG));
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

Result<FileLock> FileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
  // Failures name the lock file itself: the caller's message names what it locks.
  const auto failure = [&path](const std::string& reason) { return Status::error(path + ": " + reason); };
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return failure(errorText(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return failure(kNotARegularFile);
  }
  // flock has no timeout of its own: try, then retry in short steps.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FileLock(fd);
    const int code = errno;
    if (code != EWOULDBLOCK && code != EINTR) {
      ::close(fd);
      return failure(errorText(code));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return Status::error(kLockBusy, ErrorCode::busy);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tolvek
