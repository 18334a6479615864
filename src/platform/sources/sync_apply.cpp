// The apply pass: the pending files are examined on the worker pool
// (OrderedPool, examine_file.h) in walk order and what was learnt of each is
// written to the catalog on the calling thread, in batches. One asset per
// content; the only copy of an asset edited in place keeps its identifier
// (judged after every removal, in applyDeferred); a file whose content an
// asset already has joins it, as a move when that asset lost a file in this
// sync. Derivatives a worker made belong to the Examined result until they
// are recorded or handed to the batch to unlink.
#include <unistd.h>

#include <algorithm>

#include "platform/catalog/catalog_identifiers.h"
#include "platform/posix/path_text.h"
#include "platform/sources/pair_rule.h"
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

// What one copy tells of its asset's capture date, the same whichever
// sources name it and in whatever order they were added: the date its
// content carries (a picture's EXIF, a video's creation time), which every
// copy shares, first; else this copy's own: the date of its XMP sidecar or
// its name (a person or a device wrote it, so it beats the others), else the
// earliest of a photo manager's capture date and the file's modification
// time. The content existed when any copy of it
// was last written, so a date after that is no better; a manager's date
// that only repeats when the file came to disk is none (its reader leaves
// those out). A further copy can then only move a date without one from
// the content earlier: a sync of what did not change changes no date.
struct DateClaim {
  std::int64_t date = 0;
  bool fromContent = false;
};

DateClaim dateOf(const Examined& examined, const WalkedFile& walked, std::optional<std::int64_t> managerDate) {
  if (examined.probe.creationDate) {
    return {*examined.probe.creationDate, examined.probe.dateFrom == MediaProbe::DateFrom::content};
  }
  const std::int64_t modified = walked.modifiedNs / 1000000000 - (walked.modifiedNs % 1000000000 < 0 ? 1 : 0);
  return {managerDate ? std::min(*managerDate, modified) : modified, false};
}

// One examined file being applied: its pending entry and the row it gets.
struct Applying {
  const Pending& item;
  const SourcePlan& plan;
  std::string path;  // absolute
  std::int64_t folderRow = 0;
  SourceFile row;
  std::optional<std::int64_t> previous;  // the asset the file had
};

// A file that could not be examined, or is gone: true when `examined` is
// such, and then handled.
bool applyUnread(SyncRun& run, const Pending& item, const Examined& examined) {
  if (examined.outcome == Examined::Outcome::failed) {
    ++run.tally.failed;
    run.problem(run.absolute(item.plan, item.walked.path) + ": " + examined.error);
    // Its row stays as it was, but what it holds now is not its asset's
    // content: the asset is named after, and read from, another copy.
    if (item.before && item.before->assetRow) {
      run.passedOver.insert(item.before->row);
      run.touched.insert(*item.before->assetRow);
    }
    return true;
  }
  if (examined.outcome == Examined::Outcome::vanished) {
    // Gone since the walk: as if the walk had not found it.
    if (item.before) run.addGone(item.plan, *item.before);
    return true;
  }
  return false;
}

// Leaves the file's previous asset (reported as removed when it had one and
// `report`), before it is recorded anew. The asset stays until the end of
// the sync: a later file may be its copy.
Status leavePrevious(SyncRun& run, const Applying& a, bool report) {
  if (!a.item.before) return {};
  std::string identifier;
  if (a.previous) {
    auto found = run.catalog.assetIdentifier(*a.previous);
    if (!found) return found.status();
    identifier = *found;
  }
  if (Status removed = run.catalog.removeFile(a.item.before->row, run.batch.unlinkAfter(), true); !removed)
    return removed;
  if (a.previous) {
    run.maybeUnheld.push_back(*a.previous);
    run.touched.insert(*a.previous);
    if (report) run.batch.report(SyncChange::removed, identifier, a.path);
  }
  return {};
}

// The file holds content the asset `owner` has: it becomes (or stays) a copy
// of it, a move when that asset lost a file in this sync.
Status applyKnownContent(SyncRun& run, Applying& a, const Examined& examined,
                         const CatalogWriter::ContentOwner& owner) {
  // Its derivatives were made by a file with the same content that is
  // recorded by now; these go.
  for (const StoredDerivative& d : examined.derivatives) run.batch.unlinkAfter().push_back(d.path);
  const DateClaim claim = dateOf(examined, a.item.walked, a.item.managerDate);
  if (Status dated = run.catalog.settleCreationDate(owner.row, claim.date, claim.fromContent); !dated) return dated;
  if (a.previous && *a.previous == owner.row) {  // touched, same content
    ++run.tally.unchanged;
    a.row.assetRow = a.previous;
    return run.catalog.recordFile(a.plan.source.row, a.folderRow, a.row);
  }
  if (Status left = leavePrevious(run, a, false); !left) return left;
  a.row.assetRow = owner.row;
  run.touched.insert(owner.row);
  if (Status recorded = run.catalog.recordFile(a.plan.source.row, a.folderRow, a.row); !recorded) return recorded;
  SyncChange change = a.item.before ? SyncChange::changed : SyncChange::added;
  if (!a.item.before) {
    if (auto gone = run.goneByAsset.find(owner.row); gone != run.goneByAsset.end() && !gone->second.empty()) {
      run.gone[gone->second.front()].moved = true;
      gone->second.pop_front();
      change = SyncChange::moved;
    }
  }
  run.batch.report(change, owner.identifier, a.path);
  return {};
}

// A new asset for `examined`, whose copy is the file `a` applies.
NewAsset newAsset(SyncRun& run, const Applying& a, Examined& examined) {
  NewAsset asset;
  asset.mediaType = examined.probe.mediaType;
  asset.creationDate = dateOf(examined, a.item.walked, a.item.managerDate).date;
  asset.originalFilename = namePart(a.item.walked.path);
  asset.uniformTypeIdentifier = examined.probe.uniformTypeIdentifier;
  asset.original = examined.digest;
  asset.contentIdentifier = examined.probe.contentIdentifier;
  asset.durationMs = durationMsOf(examined.probe.durationSeconds);
  if (examined.derivatives.empty()) {
    // Another file with this content claimed it first but comes later in
    // walk order: the derivatives are made here.
    examined.derivatives =
        makeDerivatives(run.media(), run.libraryFolder, a.path, examined.probe.mediaType, examined.storageName);
  }
  if (examined.storageName.empty()) examined.storageName = newAssetIdentifier();
  // Absolute paths: the catalog records them relative to the library.
  asset.derivatives = std::move(examined.derivatives);
  examined.derivatives.clear();  // now the catalog's (or removed with the batch)
  return asset;
}

// New content: a new asset, unless the file was its asset's only copy,
// which then keeps its identifier.
Status applyNewContent(SyncRun& run, Applying& a, Examined& examined) {
  NewAsset asset = newAsset(run, a, examined);
  if (a.previous) {
    auto only = run.catalog.isOnlyCopy(*a.previous);
    if (!only) return only.status();
    if (*only) {
      if (Status renewed = run.catalog.renewAsset(*a.previous, asset, run.batch.unlinkAfter()); !renewed) return renewed;
      a.row.assetRow = a.previous;
      if (Status recorded = run.catalog.recordFile(a.plan.source.row, a.folderRow, a.row); !recorded) return recorded;
      auto identifier = run.catalog.assetIdentifier(*a.previous);
      if (!identifier) return identifier.status();
      run.batch.report(SyncChange::changed, *identifier, a.path);
      return {};
    }
  }
  if (Status left = leavePrevious(run, a, false); !left) return left;
  auto inserted = run.catalog.insertAsset(examined.storageName, asset);
  if (!inserted) {
    for (const StoredDerivative& d : asset.derivatives) ::unlink(d.path.c_str());
    return inserted.status();
  }
  a.row.assetRow = *inserted;
  if (Status recorded = run.catalog.recordFile(a.plan.source.row, a.folderRow, a.row); !recorded) return recorded;
  run.batch.report(a.previous ? SyncChange::changed : SyncChange::added, examined.storageName, a.path);
  return {};
}

// Applies what was learnt of pending file `item`. New content of a file
// that had an asset waits for `final`, the pass after every other file and
// removal, so that whether it was its asset's only copy is judged on the
// whole walk.
Status applyOne(SyncRun& run, const Pending& item, Examined examined, bool final) {
  if (applyUnread(run, item, examined)) return {};
  if (Status begun = run.batch.begin(); !begun) return begun;
  const SourcePlan& plan = run.plans[item.plan];
  // A manager's files all sit in the root's folder row: its own albums,
  // not the file system's folders, group them.
  const std::string folderPath = plan.manager ? std::string() : std::string(folderPart(item.walked.path));
  const auto device = plan.folderDevices.find(folderPath);
  auto folder = run.catalog.folderRow(
      plan.source.row, folderPath,
      static_cast<std::int64_t>(device == plan.folderDevices.end() ? plan.rootDevice : device->second));
  if (!folder) return folder.status();
  Applying a{item, plan, run.absolute(item.plan, item.walked.path), *folder,
             SourceFile{0, item.walked.path, std::nullopt, item.walked.size, item.walked.modifiedNs, item.walked.inode},
             item.before ? item.before->assetRow : std::nullopt};
  if (examined.outcome == Examined::Outcome::notMedia) {
    ++run.tally.skipped;
    if (Status left = leavePrevious(run, a, true); !left) return left;
    return run.catalog.recordFile(plan.source.row, a.folderRow, a.row);
  }
  auto owner = run.catalog.assetWithContent(examined.digest);
  if (!owner) return owner.status();
  if (*owner) return applyKnownContent(run, a, examined, **owner);
  if (a.previous && !final) {
    run.deferred.emplace_back(item, std::move(examined));
    return {};
  }
  return applyNewContent(run, a, examined);
}

}  // namespace

Status applyPending(SyncRun& run) {
  if (run.pending.empty()) return {};
  if (Status loaded = run.loadMedia(); !loaded) return loaded;
  if (!run.claims) {
    auto hashes = run.catalog.contentHashes();
    if (!hashes) return hashes.status();
    run.claims = std::make_unique<ContentClaims>(std::move(hashes).value());
  }
  ContentClaims& claims = *run.claims;
  MediaModule& media = run.media();
  OrderedPool<Examined> pool(run.pending.size(), [&](std::size_t i) {
    const Pending& item = run.pending[i];
    return examine(media, claims, run.libraryFolder, run.copyAt(item.plan, item.walked.path), item.walked);
  });
  for (std::size_t i = 0; i < run.pending.size(); ++i) {
    auto taken = takeInTurn(run.batch, pool, i);
    if (!taken) return taken.status();
    Examined examined = std::move(taken).value();
    if (run.observer.progress) {
      const WalkedFile& walked = run.pending[i].walked;
      const std::size_t done = run.pendingDone + i + 1;
      run.observer.progress(done, std::max(done, run.pendingTotal), walked.size,
                            run.absolute(run.pending[i].plan, walked.path));
    }
    if (Status applied = applyOne(run, run.pending[i], std::move(examined), false); !applied) return applied;
    if (Status committed = run.batch.commitIfDue(false); !committed) return committed;
    if (run.observer.stop && run.observer.stop()) {
      run.stopped = true;
      return run.batch.commitIfDue(true);
    }
  }
  return {};
}

Status applyDeferred(SyncRun& run) {
  for (auto& [item, examined] : run.deferred) {
    if (Status applied = applyOne(run, item, std::move(examined), true); !applied) return applied;
    if (Status committed = run.batch.commitIfDue(false); !committed) return committed;
  }
  return removeUnheld(run);
}

}  // namespace tolvek
