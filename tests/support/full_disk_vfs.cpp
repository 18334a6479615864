#include "support/full_disk_vfs.h"

#include <cstring>

namespace tolvek::testing {
namespace {

// A file of the VFS: the real file follows this header in the same block.
struct File {
  sqlite3_file base;
  const FullDiskVfs* owner;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* realOf(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real(); }

int fileClose(sqlite3_file* f) { return realOf(f)->pMethods->xClose(realOf(f)); }
int fileRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return realOf(f)->pMethods->xRead(realOf(f), buffer, amount, offset);
}
int fileWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (reinterpret_cast<File*>(f)->owner->full()) return SQLITE_FULL;
  return realOf(f)->pMethods->xWrite(realOf(f), buffer, amount, offset);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) { return realOf(f)->pMethods->xTruncate(realOf(f), size); }
int fileSync(sqlite3_file* f, int flags) { return realOf(f)->pMethods->xSync(realOf(f), flags); }
int fileSize(sqlite3_file* f, sqlite3_int64* size) { return realOf(f)->pMethods->xFileSize(realOf(f), size); }
int fileLock(sqlite3_file* f, int level) { return realOf(f)->pMethods->xLock(realOf(f), level); }
int fileUnlock(sqlite3_file* f, int level) { return realOf(f)->pMethods->xUnlock(realOf(f), level); }
int fileCheckLock(sqlite3_file* f, int* out) { return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out); }
int fileControl(sqlite3_file* f, int op, void* arg) { return realOf(f)->pMethods->xFileControl(realOf(f), op, arg); }
int fileSectorSize(sqlite3_file* f) { return realOf(f)->pMethods->xSectorSize(realOf(f)); }
int fileDevice(sqlite3_file* f) { return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f)); }
int fileShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return realOf(f)->pMethods->xShmMap(realOf(f), page, size, extend, out);
}
int fileShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return realOf(f)->pMethods->xShmLock(realOf(f), offset, n, flags);
}
void fileShmBarrier(sqlite3_file* f) { realOf(f)->pMethods->xShmBarrier(realOf(f)); }
int fileShmUnmap(sqlite3_file* f, int remove) { return realOf(f)->pMethods->xShmUnmap(realOf(f), remove); }

// Version 2: no memory-mapped reads (xFetch), which SQLite then does without.
const sqlite3_io_methods kMethods = {
    2,           fileClose,    fileRead,         fileWrite,      fileTruncate,   fileSync,
    fileSize,    fileLock,     fileUnlock,       fileCheckLock,  fileControl,    fileSectorSize,
    fileDevice,  fileShmMap,   fileShmLock,      fileShmBarrier, fileShmUnmap,   nullptr,
    nullptr,
};

sqlite3_vfs* realVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

// The one that lives (one at a time): the files it opens ask it whether the disk is full.
const FullDiskVfs* current = nullptr;

}  // namespace

FullDiskVfs::FullDiskVfs() {
  real_ = sqlite3_vfs_find(nullptr);
  vfs_ = *real_;
  vfs_.zName = "tolvek-full-disk";
  vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
  vfs_.pAppData = real_;
  vfs_.pNext = nullptr;
  current = this;
  vfs_.xOpen = [](sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    File* wrapped = reinterpret_cast<File*>(file);
    std::memset(wrapped, 0, sizeof(File));
    wrapped->owner = current;
    const int rc = realVfs(vfs)->xOpen(realVfs(vfs), name, wrapped->real(), flags, outFlags);
    wrapped->base.pMethods = rc == SQLITE_OK && wrapped->real()->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
  };
  vfs_.xDelete = [](sqlite3_vfs* vfs, const char* name, int sync) { return realVfs(vfs)->xDelete(realVfs(vfs), name, sync); };
  vfs_.xAccess = [](sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return realVfs(vfs)->xAccess(realVfs(vfs), name, flags, out);
  };
  vfs_.xFullPathname = [](sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return realVfs(vfs)->xFullPathname(realVfs(vfs), name, size, out);
  };
  // The rest (dlopen, randomness, time, system calls) act on the real VFS's
  // own data, never this one's: they are handed the real VFS.
  vfs_.xDlOpen = [](sqlite3_vfs* vfs, const char* name) { return realVfs(vfs)->xDlOpen(realVfs(vfs), name); };
  vfs_.xDlError = [](sqlite3_vfs* vfs, int size, char* out) { realVfs(vfs)->xDlError(realVfs(vfs), size, out); };
  vfs_.xDlSym = [](sqlite3_vfs* vfs, void* handle, const char* name) {
    return realVfs(vfs)->xDlSym(realVfs(vfs), handle, name);
  };
  vfs_.xDlClose = [](sqlite3_vfs* vfs, void* handle) { realVfs(vfs)->xDlClose(realVfs(vfs), handle); };
  vfs_.xRandomness = [](sqlite3_vfs* vfs, int size, char* out) { return realVfs(vfs)->xRandomness(realVfs(vfs), size, out); };
  vfs_.xSleep = [](sqlite3_vfs* vfs, int micro) { return realVfs(vfs)->xSleep(realVfs(vfs), micro); };
  vfs_.xCurrentTime = [](sqlite3_vfs* vfs, double* out) { return realVfs(vfs)->xCurrentTime(realVfs(vfs), out); };
  vfs_.xGetLastError = [](sqlite3_vfs* vfs, int size, char* out) {
    return realVfs(vfs)->xGetLastError(realVfs(vfs), size, out);
  };
  vfs_.xCurrentTimeInt64 = [](sqlite3_vfs* vfs, sqlite3_int64* out) {
    return realVfs(vfs)->xCurrentTimeInt64(realVfs(vfs), out);
  };
  vfs_.xSetSystemCall = nullptr;
  vfs_.xGetSystemCall = nullptr;
  vfs_.xNextSystemCall = nullptr;
  if (vfs_.iVersion > 2) vfs_.iVersion = 2;
  sqlite3_vfs_register(&vfs_, 1);
}

FullDiskVfs::~FullDiskVfs() {
  sqlite3_vfs_unregister(&vfs_);
  sqlite3_vfs_register(real_, 1);
  current = nullptr;
}

}  // namespace tolvek::testing
