// The removal passes, after every addition so that a moved file's asset
// never leaves the library on the way: recorded files the walk did not find
// leave the catalog, assets their files left go unless another file holds
// them, and assets whose copies changed are named after the copy the helper
// reads now. Run on the sync's calling thread, in the sync's batches.
#include "platform/sources/sync_passes.h"

namespace tolvek {

Status removeGone(SyncRun& run, bool onlyMoved) {
  for (const Gone& gone : run.gone) {
    if (onlyMoved && !gone.moved) continue;
    if (Status begun = run.batch.begin(); !begun) return begun;
    std::string identifier;
    if (gone.file.assetRow) {
      auto found = run.catalog.assetIdentifier(*gone.file.assetRow);
      if (!found) return found.status();
      identifier = *found;
    }
    if (Status removed = run.catalog.removeFile(gone.file.row, run.batch.unlinkAfter()); !removed) return removed;
    if (gone.file.assetRow) run.touched.insert(*gone.file.assetRow);
    if (gone.file.assetRow && !gone.moved) {
      run.batch.report(SyncChange::removed, identifier, run.absolute(gone.plan, gone.file.path));
    }
    if (Status committed = run.batch.commitIfDue(false); !committed) return committed;
  }
  return {};
}

Status removeUnheld(SyncRun& run) {
  if (Status begun = run.batch.begin(); !begun) return begun;
  for (const std::int64_t asset : run.maybeUnheld) {
    if (Status removed = run.catalog.removeAssetIfUnheld(asset, run.batch.unlinkAfter()); !removed) return removed;
  }
  run.maybeUnheld.clear();
  return {};
}

// A renamed or moved file, a first copy deleted or damaged: identifiers stay.
Status nameTouchedAssets(SyncRun& run) {
  if (run.touched.empty()) return {};
  if (Status begun = run.batch.begin(); !begun) return begun;
  for (const std::int64_t asset : run.touched) {
    if (Status named = run.catalog.nameAfterFirstCopy(asset, run.passedOver); !named) return named;
  }
  run.touched.clear();
  return {};
}

}  // namespace tolvek
