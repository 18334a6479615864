#pragma once
// The passes of a sync, in the order SourceSync (source_sync.cpp) runs them,
// each on the calling thread over the SyncRun they share. Each returns a
// failed Status only when the catalog cannot be written or the media module
// cannot be loaded; what it could not read it counts and tells.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/sources/sync_run.h"

namespace tolvek {

// sync_plan.cpp: compares a source as it is now with what the catalog
// recorded of it, adding a SourcePlan with its pending and gone files, or
// telling it offline.
Status planSource(SyncRun& run, const Source& source);
// Compares the walk of the source in plan `index` with the files recorded
// from it. `dates`, when given, holds a manager's date of each walked file.
Status planFiles(SyncRun& run, std::size_t index, SourceWalk& walk, std::vector<SourceFile> recorded,
                 const std::vector<std::optional<std::int64_t>>* dates = nullptr);
// The next window of pending files after the one applied (SyncRun::rest),
// walking on where the plan stopped holding them.
Status planRest(SyncRun& run);

// Plans the folder source as it is walked by `walker` (its root listed),
// merged with its recorded rows as they are read.
Status planWalked(SyncRun& run, const Source& source, SourceWalker& walker);

// sync_scope.cpp: plans only the folders `scope` names of the folder source
// (found on `rootDevice`, where it was recorded), each walked and merged with
// its recorded rows as a whole source is.
Status planScoped(SyncRun& run, const Source& source, std::uint64_t rootDevice, const SyncScope& scope);

// manager_plan.cpp: the same for a photo manager's database, read as `read`.
Status planManager(SyncRun& run, const Source& source, std::vector<SourceFile> files, bool holdsAssets,
                   Result<ManagerCatalog> read);

// sync_apply.cpp: examines the pending files on the worker pool and applies
// each in walk order; stops early when the observer asks to.
Status applyPending(SyncRun& run);
// After the removals: edited files whose assets may have had other copies.
Status applyDeferred(SyncRun& run);

// sync_removals.cpp: gone files leave the catalog after every addition, so
// that a moved file's asset never leaves the library on the way; with
// `onlyMoved`, just the old places of moved files.
Status removeGone(SyncRun& run, bool onlyMoved);
// Assets changed files left, unless another file holds them.
Status removeUnheld(SyncRun& run);
// Assets whose copies changed are named after the copy the helper reads now.
Status nameTouchedAssets(SyncRun& run);

// sync_pairs.cpp: pairs Live Photos and RAW+JPEG in every folder where a
// file came, changed, moved or went (pair_rule.h), and once in every folder
// of a source recorded before the catalog kept what pairs files.
Status pairFolders(SyncRun& run);

// manager_albums.cpp: the events, tags and folders of the manager sources
// synced, as albums of the assets their files are now.
Status recordManagerAlbums(SyncRun& run);

// derivative_renewal.cpp: derivatives made with an older recipe are made
// again.
Status renewOutdatedDerivatives(SyncRun& run);

}  // namespace tolvek
