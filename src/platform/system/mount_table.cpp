#include "platform/system/mount_table.h"

#include <libmount.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>

#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

// A line libmount cannot read whole keeps what it read of it (the fields
// before the damage); one without its mount point is then left out.
int keepWhatWasRead(libmnt_table*, const char*, int) { return 0; }

std::string field(const char* value) { return value != nullptr ? std::string(value) : std::string(); }

// The mounts of a table libmount parsed with `parse`, in its order.
template <class Parse>
Result<std::vector<Mount>> mountsParsedBy(Parse parse) {
  libmnt_table* table = ::mnt_new_table();
  if (table == nullptr) return Status::error("cannot make a mount table: out of memory");
  ::mnt_table_set_parser_errcb(table, keepWhatWasRead);
  std::vector<Mount> mounts;
  const int parsed = parse(table);
  libmnt_iter* iterator = parsed == 0 ? ::mnt_new_iter(MNT_ITER_FORWARD) : nullptr;
  libmnt_fs* fs = nullptr;
  while (iterator != nullptr && ::mnt_table_next_fs(table, iterator, &fs) == 0) {
    if (::mnt_fs_get_target(fs) == nullptr) continue;
    const dev_t device = ::mnt_fs_get_devno(fs);
    mounts.push_back({std::to_string(major(device)) + ":" + std::to_string(minor(device)),
                      field(::mnt_fs_get_root(fs)), field(::mnt_fs_get_target(fs)), field(::mnt_fs_get_source(fs))});
  }
  if (iterator != nullptr) ::mnt_free_iter(iterator);
  ::mnt_unref_table(table);
  if (parsed != 0) return Status::error(std::string("cannot read the mount table: ") + std::strerror(-parsed));
  return mounts;
}

}  // namespace

std::vector<Mount> parseMountTable(std::string_view mountinfo) {
  if (mountinfo.empty()) return {};
  // Read from memory: libmount parses a stream as it parses the file.
  std::string text(mountinfo);
  std::FILE* stream = ::fmemopen(text.data(), text.size(), "r");
  if (stream == nullptr) return {};
  Result<std::vector<Mount>> mounts =
      mountsParsedBy([stream](libmnt_table* table) { return ::mnt_table_parse_stream(table, stream, "mountinfo"); });
  std::fclose(stream);
  return mounts ? std::move(mounts).value() : std::vector<Mount>();
}

Result<std::vector<Mount>> readMountTable() {
  return mountsParsedBy([](libmnt_table* table) { return ::mnt_table_parse_file(table, "/proc/self/mountinfo"); });
}

std::vector<Mount> mountsWithin(const std::vector<Mount>& mounts, const std::string& folder) {
  std::vector<Mount> within;
  for (const Mount& mount : mounts) {
    if (isWithinFolder(mount.mountPoint, folder)) within.push_back(mount);
  }
  return within;
}

Result<MountMonitor> MountMonitor::open() {
  libmnt_monitor* monitor = ::mnt_new_monitor();
  if (monitor == nullptr) return Status::error("cannot watch the mount table: out of memory");
  int fd = -1;
  if (const int enabled = ::mnt_monitor_enable_kernel(monitor, 1); enabled == 0) fd = ::mnt_monitor_get_fd(monitor);
  if (fd < 0) {
    ::mnt_unref_monitor(monitor);
    return Status::error("cannot watch the mount table");
  }
  return MountMonitor(monitor, fd);
}

MountMonitor::~MountMonitor() {
  if (monitor_ != nullptr) ::mnt_unref_monitor(monitor_);  // closes fd_ with it
}

Result<bool> MountMonitor::changed() {
  bool any = false;
  const char* file = nullptr;
  int type = 0;
  int next = 0;
  while ((next = ::mnt_monitor_next_change(monitor_, &file, &type)) == 0) any = true;
  if (next < 0) return Status::error(std::string("cannot watch the mount table: ") + std::strerror(-next));
  return any;
}

}  // namespace tolvek
