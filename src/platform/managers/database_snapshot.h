#pragma once
// A consistent copy, in memory, of an SQLite database that another program
// owns and writes (a photo manager's), taken without ever writing it and
// without holding its lock for more than a moment: the file is opened
// read-only and copied with SQLite's online backup a few pages per step, so
// the shared lock is held for one step at a time and the owner can commit
// between steps. A commit by the owner mid-copy makes the copy start over.
#include <chrono>
#include <functional>
#include <string>

#include "library/status.h"
#include "platform/catalog/sqlite_statement.h"

namespace tolvek {

// Pages copied per step: 128 pages of 4 KiB read in well under a
// millisecond from the page cache, so the owner's writes wait at most that.
inline constexpr int kSnapshotPagesPerStep = 128;
// How long the copy waits, in all, for the owner to let go of a write lock.
inline constexpr std::chrono::milliseconds kSnapshotBusyWait{3000};
// The pause between two attempts while the owner holds its write lock.
inline constexpr std::chrono::milliseconds kSnapshotBusyPause{25};
// Copies started over because the owner committed mid-copy, before giving up.
inline constexpr int kSnapshotMaxRestarts = 20;

struct SnapshotOptions {
  int pagesPerStep = kSnapshotPagesPerStep;
  std::chrono::milliseconds busyWait = kSnapshotBusyWait;
  int maxRestarts = kSnapshotMaxRestarts;
  // Called each time the database is found locked, before the pause.
  std::function<void()> onBusy{};
  // Called after each step that copied pages, while no lock is held.
  std::function<void()> afterStep{};
};

// What a copy took, for benchmarks and diagnostics.
struct SnapshotReport {
  int steps = 0;     // backup steps run, busy ones included
  int restarts = 0;  // times the copy started over
  int busyRetries = 0;
  std::chrono::nanoseconds longestStep{0};  // the longest time the lock was held at once
  std::chrono::nanoseconds total{0};
};

// The database at `path` (a regular file, refused without blocking
// otherwise) copied into a private in-memory database. Fails with a message
// for the user: the file is missing or not a regular file, is not an SQLite
// database or is damaged, has a change left unfinished by its owner (a hot
// journal, which only the owner can roll back), stayed locked ("busy") for
// `busyWait`, or kept changing under the copy.
Result<SqliteConnection> snapshotDatabase(const std::string& path, const SnapshotOptions& options = {},
                                          SnapshotReport* report = nullptr);

}  // namespace tolvek
