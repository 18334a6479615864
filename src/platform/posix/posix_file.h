#pragma once
// The POSIX file primitives every part of the platform uses, so each rule
// lives once: a file opened for reading is a regular file (a FIFO, device,
// socket or a link to one is refused without blocking) and is read with a
// cap; writes are whole; locks are waited for a bounded time.
// Linked into the platform, the media module and the download module.
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "library/status.h"

namespace tolvek {

// The system's description of an errno value ("No such file or directory").
std::string errorText(int code);
// The same, as a failed Status (ErrorCode::notFound for ENOENT, noSpace for
// ENOSPC).
Status errorStatus(int code);

inline constexpr char kNotARegularFile[] = "Not a regular file";

// Writes every byte of `bytes` to `fd`, across partial writes and EINTR.
Status writeAll(int fd, std::string_view bytes);

inline constexpr char kLinkNotFollowed[] = "Is a symbolic link, which is not followed";

// A file's modification time (st_mtim) in nanoseconds since the epoch.
std::int64_t modifiedNsOf(const struct stat& info);

// Which file an open descriptor is, as fstat gave it when it was opened.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modifiedNs = 0;  // st_mtim in nanoseconds since the epoch
};

// A regular file opened read-only. Owns its descriptor; move-only. The size
// is the one fstat gave when it was opened: readers never go past it, so a
// file that grows while it is read (or is replaced by an endless one) ends
// there.
class ReadableFile {
 public:
  // Opens without blocking (O_NONBLOCK, then cleared) and refuses anything
  // but a regular file with kNotARegularFile.
  static Result<ReadableFile> open(const std::string& path);
  // The same for `relative` below the folder `root`, where no step of
  // `relative` may be a symbolic link (kLinkNotFollowed), "." or ".." (the
  // steps of `root` itself may be links). With `root` the folder of a file
  // and `relative` its name, only the file itself must not be a link.
  static Result<ReadableFile> openBelow(const std::string& root, std::string_view relative);

  ReadableFile(ReadableFile&& other) noexcept;
  ReadableFile& operator=(ReadableFile&& other) noexcept;
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;
  ~ReadableFile();

  int fd() const { return fd_; }
  std::uint64_t size() const { return size_; }
  const FileIdentity& identity() const { return identity_; }
  // A name under which any library opens this very file again, whatever
  // becomes of its path (/proc/self/fd/N); `path` where /proc is not there.
  std::string openedName(const std::string& path) const;
  // Bytes [0, min(size(), maxBytes)) as far as the file still has them.
  Result<std::string> read(std::uint64_t maxBytes) const;

 private:
  ReadableFile(int fd, std::uint64_t size, FileIdentity identity) : fd_(fd), size_(size), identity_(identity) {}
  // Takes `fd` (open or -1 with errno set): checks it is a regular file.
  static Result<ReadableFile> adopt(int fd);
  int fd_ = -1;
  std::uint64_t size_ = 0;
  FileIdentity identity_;
};

// The whole regular file at `path`, refused when it is larger than
// `maxBytes` (so a cap never silently cuts a file short).
Result<std::string> readRegularFile(const std::string& path, std::uint64_t maxBytes);

// Everything `fd` gives until end of file (a pipe, a terminal, a file), across
// partial reads and EINTR; refused once it passes `maxBytes`. The descriptor
// stays open and is the caller's.
Result<std::string> readUntilEnd(int fd, std::uint64_t maxBytes);

// An exclusive flock on a lock file, held while this lives (move-only). The
// lock is the kernel's: it ends with the process, however that ends.
class FileLock {
 public:
  // Creates `path` (mode 0600) when missing and waits at most `wait` for the
  // lock; a lock file that is not a regular file is refused. Fails with
  // kLockBusy (ErrorCode::busy) when another holds it past the wait, else
  // with `path` and the
  // reason ("PATH: Not a regular file").
  static Result<FileLock> acquire(const std::string& path, std::chrono::milliseconds wait);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

inline constexpr char kLockBusy[] = "Another process holds the lock";

}  // namespace tolvek
