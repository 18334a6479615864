// SourceSync orders the passes of one sync (sync_passes.h) over the SyncRun
// they share: the plan of every source first, so that a file moved from one
// to another keeps its asset; then the additions, the removals, the edits
// judged on the whole walk, the names, the manager albums, the devices and
// the derivatives made with an older recipe. A sync the observer stops
// still finishes the moves it began. Runs on the caller's thread; the
// passes start and join their own workers.
#include "platform/sources/source_sync.h"

#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

class SourceSync {
 public:
  SourceSync(CatalogWriter& catalog, const std::function<MediaModule*()>& media, std::string libraryFolder,
             const SyncObserver& observer)
      : run_(catalog, media, std::move(libraryFolder), observer) {}

  Result<SyncTally> run(const std::vector<Source>& sources) {
    for (const Source& source : sources) {
      if (Status planned = planSource(run_, source); !planned) return planned;
    }
    if (Status applied = applyPending(run_); !applied) return applied;
    // A large plan's further windows, each planned once the one before is applied.
    while (run_.rest && !run_.stopped) {
      if (Status planned = planRest(run_); !planned) return planned;
      if (Status applied = applyPending(run_); !applied) return applied;
    }
    if (run_.stopped) {
      if (Status finished = finishStopped(); !finished) return finished;
      return run_.tally;
    }
    if (Status removed = removeGone(run_, false); !removed) return removed;
    if (Status applied = applyDeferred(run_); !applied) return applied;
    if (Status named = nameTouchedAssets(run_); !named) return named;
    if (Status paired = pairFolders(run_); !paired) return paired;
    if (Status recorded = recordManagerAlbums(run_); !recorded) return recorded;
    if (Status recorded = recordDevices(); !recorded) return recorded;
    if (Status renewed = renewOutdatedDerivatives(run_); !renewed) return renewed;
    return run_.tally;
  }

 private:
  // A file moved in this run leaves its old place too, so that a move is
  // never left half done; the rest is the next sync's.
  Status finishStopped() {
    if (Status removed = removeGone(run_, true); !removed) return removed;
    // Assets their files left in this run, unless another file holds them.
    if (Status removed = removeUnheld(run_); !removed) return removed;
    if (Status named = nameTouchedAssets(run_); !named) return named;
    return run_.batch.commitIfDue(true);
  }

  Status recordDevices() {
    if (Status begun = run_.batch.begin(); !begun) return begun;
    for (const SourcePlan& plan : run_.plans) {
      const auto device = static_cast<std::int64_t>(plan.rootDevice);
      if (Status recorded = run_.catalog.recordSourceDevice(plan.source.row, device); !recorded) return recorded;
    }
    if (Status pruned = run_.catalog.pruneEmptyCollections(); !pruned) return pruned;
    return run_.batch.commitIfDue(true);
  }

  SyncRun run_;
};

}  // namespace

Result<SyncTally> syncSources(CatalogWriter& catalog, const std::function<MediaModule*()>& media,
                              const std::string& libraryFolder, const std::vector<Source>& sources,
                              const SyncObserver& observer) {
  return SourceSync(catalog, media, libraryFolder, observer).run(sources);
}

}  // namespace tolvek
