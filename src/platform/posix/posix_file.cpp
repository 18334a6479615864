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

Status errorStatus(int code) { return Status::error(errorText(code)); }

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
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
  return ReadableFile(fd, static_cast<std::uint64_t>(info.st_size));
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
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
      return Status::error(kLockBusy);
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
