#pragma once
// The kernel's table of this process's mounts, as /proc/self/mountinfo lists
// it, read through util-linux's libmount: read by the digiKam reader (which
// mount holds a volume) and by the watch (which sources a mount change
// touched).
#include <string>
#include <string_view>
#include <vector>

#include "library/status.h"

struct libmnt_monitor;

namespace tolvek {

struct Mount {
  std::string device;      // "major:minor" of the file system
  std::string root;        // the folder of that file system mounted here ("/" for all of it)
  std::string mountPoint;  // where it is mounted, escapes decoded
  std::string source;      // what was mounted (a device path for a block device), escapes decoded
};

// The mounts of a mountinfo text, in its order ("36 35 98:0 /root /mnt opts
// [optional fields] - fstype source superopts"); a damaged line keeps the
// fields before the damage, and one without a mount point is skipped.
std::vector<Mount> parseMountTable(std::string_view mountinfo);

// This process's mounts now.
Result<std::vector<Mount>> readMountTable();

// The mounts whose mount point is at or below `folder` (an absolute path
// without a trailing slash), in the table's order.
std::vector<Mount> mountsWithin(const std::vector<Mount>& mounts, const std::string& folder);

// Tells when this process's mount table changes, through libmount's monitor
// of the kernel's table: a caller polls fd() for POLLIN and then calls
// changed(), which takes what the monitor queued. Owns the monitor and its
// descriptor until destroyed; used on one thread.
class MountMonitor {
 public:
  static Result<MountMonitor> open();
  MountMonitor(MountMonitor&& other) noexcept : monitor_(other.monitor_), fd_(other.fd_) {
    other.monitor_ = nullptr;
    other.fd_ = -1;
  }
  MountMonitor& operator=(MountMonitor&&) = delete;
  MountMonitor(const MountMonitor&) = delete;
  MountMonitor& operator=(const MountMonitor&) = delete;
  ~MountMonitor();

  int fd() const { return fd_; }
  // Whether the table changed since the last call; fails when the monitor
  // cannot tell (then its descriptor may stay readable: stop polling it).
  Result<bool> changed();

 private:
  MountMonitor(libmnt_monitor* monitor, int fd) : monitor_(monitor), fd_(fd) {}
  libmnt_monitor* monitor_;
  int fd_;
};

}  // namespace tolvek
