#include "platform/database_snapshot.h"

#include <memory>
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

}  // namespace

Result<SqliteConnection> snapshotDatabase(const std::string& path, const SnapshotOptions& options,
                                          SnapshotReport* report) {
  SnapshotReport unused;
  SnapshotReport& r = report != nullptr ? *report : unused;
  r = {};
  const Clock::time_point started = Clock::now();
  {
    // Refuses a FIFO or device without blocking. Closed again before SQLite
    // opens the file: closing any descriptor of a file drops every POSIX
    // lock this process holds on it, SQLite's own included.
    Result<ReadableFile> file = ReadableFile::open(path);
    if (!file) return file.status();
  }

  sqlite3* raw = nullptr;
  // Read-only (never immutable: the owner may be writing it), and without a
  // busy handler, so a locked database is waited for below, between steps,
  // holding nothing.
  int code = sqlite3_open_v2(sqliteFileUri(path, "mode=ro").c_str(), &raw,
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
  Clock::duration waited{0};
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
      if (done <= copied && ++r.restarts > options.maxRestarts) {
        return Status::error("the database kept changing while it was read; try again when its program is idle");
      }
      copied = done;
      if (options.afterStep) options.afterStep();
      continue;
    }
    if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
      if (waited >= options.busyWait) return Status::error(busyMessage(options.busyWait));
      ++r.busyRetries;
      if (options.onBusy) options.onBusy();
      const Clock::time_point pauseStarted = Clock::now();
      std::this_thread::sleep_for(kSnapshotBusyPause);
      waited += Clock::now() - pauseStarted + took;
      continue;
    }
    return failure(code);
  }
  code = sqlite3_backup_finish(backup.release());
  if (code != SQLITE_OK) return failure(code);
  source.reset();
  r.total = Clock::now() - started;
  return copy;
}

}  // namespace tolvek
