#pragma once
// SyncBatch: the sync's catalog changes, written in batches through the
// writer's batches (the writer lock is held only while one is open). A batch commits every kSyncBatchFiles files or every
// kSyncBatchSeconds; then, and only then, its events are counted and told
// and the library files its rows no longer name are unlinked. A batch still
// open when this is destroyed is rolled back. Used on the sync's calling
// thread only; it refers to the catalog, observer and tally, which its owner
// keeps alive.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/sources/ordered_pool.h"
#include "platform/sources/source_sync.h"

namespace tolvek {

class SyncBatch {
 public:
  using Clock = std::chrono::steady_clock;

  SyncBatch(CatalogWriter& catalog, const SyncObserver& observer, SyncTally& tally)
      : catalog_(catalog), observer_(observer), tally_(tally) {}
  SyncBatch(const SyncBatch&) = delete;
  SyncBatch& operator=(const SyncBatch&) = delete;

  // Opens a batch unless one is open.
  Status begin();
  // A change told once the batch holding it is committed.
  void report(SyncChange change, std::string identifier, std::string path) {
    events_.push_back({change, std::move(identifier), std::move(path)});
  }
  // Library files (absolute paths) to unlink once the batch is committed.
  std::vector<std::string>& unlinkAfter() { return unlink_; }
  bool isOpen() const { return open_.has_value(); }
  // When the open batch is old enough to be committed.
  Clock::time_point due() const;
  // Counts one more file done; commits when the batch is large or old
  // enough, or when `now`.
  Status commitIfDue(bool now);

 private:
  CatalogWriter& catalog_;
  const SyncObserver& observer_;
  SyncTally& tally_;
  std::optional<CatalogWriter::Batch> open_;  // rolled back when destroyed uncommitted
  Clock::time_point started_;
  std::size_t files_ = 0;
  std::vector<SyncEvent> events_;
  std::vector<std::string> unlink_;
};

// Result `i` of `pool`. While it is not ready (a large file is being
// hashed), the open batch is committed once it is due, so that the writer
// lock is not held while nothing is written.
template <class R>
Result<R> takeInTurn(SyncBatch& batch, OrderedPool<R>& pool, std::size_t i) {
  while (batch.isOpen() && !pool.readyBy(i, batch.due())) {
    if (Status committed = batch.commitIfDue(true); !committed) return committed;
  }
  return pool.take(i);
}

}  // namespace tolvek
