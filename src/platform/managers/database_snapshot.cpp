#include "platform/managers/database_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

using Clock = std::chrono::steady_clock;

struct BackupFinisher {
  void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};
using Backup = std::unique_ptr<sqlite3_backup, BackupFinisher>;

Status keptChanging() {
  return Status::error("the database kept changing while it was read; try again when its program is idle");
}

std::string busyMessage(std::chrono::milliseconds wait) {
  return "the database is busy: the program that owns it kept it locked for writing for " +
         std::to_string((wait.count() + 999) / 1000) + " seconds; try again when it is idle";
}

// The message for an SQLite result code met while opening or copying.
Status failure(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status::error(busyMessage(kSnapshotBusyWait));
    case SQLITE_READONLY:
      // Nothing is ever written, so this is a change the owner left half
      // done (a hot journal, a WAL that needs recovery): only a connection
      // that may write can finish it, and this one never will.
      return Status::error(
          "the database is busy: the program that owns it left a change unfinished (it may have been stopped); "
          "open that program once so it completes the change, then try again");
    case SQLITE_NOTADB:
      return Status::error("it is not an SQLite database");
    case SQLITE_CORRUPT:
      return Status::error("the database is damaged");
    case SQLITE_CANTOPEN:
      return Status::error("the database cannot be opened");
    default:
      return Status::error(std::string("the database cannot be read: ") + sqlite3_errstr(code));
  }
}

// SQLite's lock-byte page: a connection to a database in WAL mode holds a
// read lock on the shared range as long as it is open, and only one that
// write-locks the whole range (its EXCLUSIVE lock) may leave WAL mode or, as
// the last connection closing, delete the -wal and -shm files.
constexpr off_t kSharedLockFirst = 0x40000000 + 2;
constexpr off_t kSharedLockBytes = 510;
// A -wal of at most its header holds no frame: nothing the file lacks.
constexpr std::uint64_t kWalHeaderBytes = 32;

// True when the file's header says WAL mode (read and write versions 2).
bool inWalMode(const ReadableFile& file) {
  static constexpr std::string_view kMagic("SQLite format 3\0", 16);
  const Result<std::string> header = file.read(20);
  return header && header->size() == 20 && header->starts_with(kMagic) && (*header)[18] == 2 && (*header)[19] == 2;
}

// A read lock on the shared range, on this open file description of its own
// (F_OFD_SETLK): SQLite closing its descriptors of the file does not drop
// it, and it conflicts with every other connection's locks as another
// process's would. False while another connection holds the EXCLUSIVE lock.
bool lockShared(int fd) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kSharedLockFirst;
  lock.l_len = kSharedLockBytes;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The database's -wal and -shm files as they are now.
struct Sidecars {
  struct Seen {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const Seen&) const = default;
  };
  std::optional<Seen> wal, shm;
  bool operator==(const Sidecars&) const = default;

  static Sidecars of(const std::string& path) {
    Sidecars sidecars;
    for (auto [suffix, seen] : {std::pair{"-wal", &sidecars.wal}, std::pair{"-shm", &sidecars.shm}}) {
      struct stat info {};
      if (::stat((path + suffix).c_str(), &info) == 0) {
        *seen = Seen{info.st_dev, info.st_ino, info.st_size,
                     modifiedNsOf(info)};
      }
    }
    return sidecars;
  }
};

// Pauses once while the database is locked; false once `waited` reached the
// wait allowed.
bool pauseWhileBusy(const SnapshotOptions& options, SnapshotReport& r, Clock::duration& waited,
                    Clock::duration alreadyTaken = {}) {
  if (waited >= options.busyWait) return false;
  ++r.busyRetries;
  if (options.onBusy) options.onBusy();
  const Clock::time_point pauseStarted = Clock::now();
  std::this_thread::sleep_for(kSnapshotBusyPause);
  waited += Clock::now() - pauseStarted + alreadyTaken;
  return true;
}

// The database at `path`, opened with the URI parameters `query`, copied
// into a new in-memory database a few pages per step.
Result<SqliteConnection> copyInSteps(const std::string& path, const char* query, const SnapshotOptions& options,
                                     SnapshotReport& r, Clock::duration& waited) {
  sqlite3* raw = nullptr;
  // Read-only, and without a busy handler, so a locked database is waited
  // for below, between steps, holding nothing.
  int code = sqlite3_open_v2(sqliteFileUri(path, query).c_str(), &raw,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteConnection source(raw);
  if (code != SQLITE_OK) return failure(code);

  raw = nullptr;
  code = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteConnection copy(raw);
  if (code != SQLITE_OK) return failure(code);
  // The copy's schema is another program's: nothing in it may call
  // functions with side effects or change the connection.
  sqlite3_db_config(copy.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(copy.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

  Backup backup(sqlite3_backup_init(copy.get(), "main", source.get(), "main"));
  if (!backup) return failure(sqlite3_errcode(copy.get()));
  int copied = -1;
  for (;;) {
    const Clock::time_point stepStarted = Clock::now();
    code = sqlite3_backup_step(backup.get(), options.pagesPerStep);
    const Clock::duration took = Clock::now() - stepStarted;
    ++r.steps;
    if (took > r.longestStep) r.longestStep = took;
    if (code == SQLITE_DONE) break;
    if (code == SQLITE_OK) {
      // A commit by the owner since the last step resets the copy to its
      // first page, so fewer pages are done than before.
      const int done = sqlite3_backup_pagecount(backup.get()) - sqlite3_backup_remaining(backup.get());
      if (done <= copied && ++r.restarts > options.maxRestarts) return keptChanging();
      copied = done;
      if (options.afterStep) options.afterStep();
      continue;
    }
    if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
      if (!pauseWhileBusy(options, r, waited, took)) return Status::error(busyMessage(options.busyWait));
      continue;
    }
    return failure(code);
  }
  code = sqlite3_backup_finish(backup.release());
  if (code != SQLITE_OK) return failure(code);
  return copy;
}

// A database in WAL mode, read without leaving anything beside it. SQLite
// opening it creates the -wal and -shm files that are missing, and a
// read-only connection can never delete them again; so it is opened that
// way only while both are there (its owner's, which cannot go while the
// shared lock held here stands). Otherwise nobody is connected (a
// connection has both, or holds the EXCLUSIVE lock, which the shared lock
// waits out) and the database file holds every commit: it is read as an
// immutable file, without locks or companions. A program that connects
// meanwhile makes the file missing, which it cannot delete while the
// shared lock stands: then the copy starts over, now as the owner's
// reader. A -wal with frames but no -shm (its owner stopped, the -shm
// removed) is a change only the owner can finish.
Result<SqliteConnection> copyWalDatabase(const ReadableFile& file, const std::string& path,
                                         const SnapshotOptions& options, SnapshotReport& r) {
  Clock::duration waited{0};
  while (!lockShared(file.fd())) {
    if (errno != EAGAIN && errno != EACCES) return errorStatus(errno);
    if (!pauseWhileBusy(options, r, waited)) return Status::error(busyMessage(options.busyWait));
  }
  for (;;) {
    const Sidecars before = Sidecars::of(path);
    if (before.wal && before.shm) return copyInSteps(path, "mode=ro", options, r, waited);
    if (before.wal && static_cast<std::uint64_t>(before.wal->size) > kWalHeaderBytes) return failure(SQLITE_READONLY);
    Result<SqliteConnection> copy = copyInSteps(path, "mode=ro&immutable=1", options, r, waited);
    if (!copy || Sidecars::of(path) == before) return copy;
    if (++r.restarts > options.maxRestarts) return keptChanging();
  }
}

}  // namespace

Result<SqliteConnection> snapshotDatabase(const std::string& path, const SnapshotOptions& options,
                                          SnapshotReport* report) {
  SnapshotReport unused;
  SnapshotReport& r = report != nullptr ? *report : unused;
  r = {};
  const Clock::time_point started = Clock::now();
  std::optional<Result<SqliteConnection>> walCopy;
  {
    // Refuses a FIFO or device without blocking.
    Result<ReadableFile> file = ReadableFile::open(path);
    if (!file) return file.status();
    // Kept open, with the lock it holds, until SQLite closed the file.
    if (inWalMode(*file)) walCopy.emplace(copyWalDatabase(*file, path, options, r));
  }
  // A rollback journal: SQLite reads the file as it is and creates nothing.
  // The file was closed before SQLite opens it: closing any descriptor of a
  // file drops every POSIX lock this process holds on it, SQLite's own
  // included.
  Clock::duration waited{0};
  Result<SqliteConnection> copy = walCopy ? std::move(*walCopy) : copyInSteps(path, "mode=ro", options, r, waited);
  if (copy) r.total = Clock::now() - started;
  return copy;
}

}  // namespace tolvek
