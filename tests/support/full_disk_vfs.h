#pragma once
// A full disk for SQLite without filling one: a VFS over the default one,
// made the default while it lives, whose file writes fail while full() is
// set, as the Unix VFS reports ENOSPC (SQLITE_FULL). Only connections opened
// while it lives use it. One at a time.
#include <sqlite3.h>

#include <atomic>

namespace tolvek::testing {

class FullDiskVfs {
 public:
  FullDiskVfs();
  ~FullDiskVfs();
  FullDiskVfs(const FullDiskVfs&) = delete;
  FullDiskVfs& operator=(const FullDiskVfs&) = delete;

  void setFull(bool full) { full_.store(full); }
  bool full() const { return full_.load(); }

 private:
  sqlite3_vfs vfs_{};
  sqlite3_vfs* real_ = nullptr;
  std::atomic<bool> full_{false};
};

}  // namespace tolvek::testing
