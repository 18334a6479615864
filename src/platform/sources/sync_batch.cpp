#include "platform/sources/sync_batch.h"

#include <unistd.h>

namespace tolvek {

Status SyncBatch::begin() {
  if (open_) return {};
  auto begun = catalog_.beginBatch();
  if (!begun) return begun.status();
  open_.emplace(std::move(begun).value());
  started_ = Clock::now();
  return {};
}

SyncBatch::Clock::time_point SyncBatch::due() const {
  return started_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kSyncBatchSeconds));
}

Status SyncBatch::commitIfDue(bool now) {
  if (!open_) return {};
  ++files_;
  const std::chrono::duration<double> age = Clock::now() - started_;
  if (!now && files_ < kSyncBatchFiles && age.count() < kSyncBatchSeconds) return {};
  Status committed = open_->commit();
  open_.reset();
  if (!committed) return committed;
  for (const SyncEvent& event : events_) {
    switch (event.change) {
      case SyncChange::added: ++tally_.added; break;
      case SyncChange::changed: ++tally_.changed; break;
      case SyncChange::moved: ++tally_.moved; break;
      case SyncChange::removed: ++tally_.removed; break;
    }
    if (observer_.changed) observer_.changed(event);
  }
  for (const std::string& path : unlink_) ::unlink(path.c_str());
  events_.clear();
  unlink_.clear();
  files_ = 0;
  return {};
}

}  // namespace tolvek
