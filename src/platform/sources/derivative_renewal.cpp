// Derivatives made with an older recipe are made again at the end of a
// sync, so that a change of derivatives reaches existing libraries. They are
// made on the worker pool (OrderedPool) from the library's own copy or, by
// the rule the helper reads it by (referenced_copy.h), a copy in a source;
// recorded on the calling thread in the sync's batches. Until recorded, the
// files made belong to the pool's result; an asset removed meanwhile (they
// are made outside the writer lock) hands them to the batch to unlink.
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

using Made = std::pair<std::string, std::vector<StoredDerivative>>;  // storage name, derivatives

// Makes the derivatives of `work`; none when its copy cannot be read or was
// changed in place (the next sync's to examine, not to make these from).
Made remake(MediaModule& media, const std::string& libraryFolder, const CatalogWriter::DerivativeWork& work) {
  std::string storage;
  if (!work.originalPath.empty()) {
    auto made = makeDerivatives(media, libraryFolder, work.originalPath, work.mediaType, storage);
    return std::make_pair(storage, std::move(made));
  }
  auto copy = openReferencedCopy(work.copies, work.sha256);
  if (!copy || copy->editedInPlace) return std::make_pair(storage, std::vector<StoredDerivative>());
  auto made = makeDerivatives(media, libraryFolder, copy->file->openedName(work.copies[copy->index].absolutePath()),
                              work.mediaType, storage);
  return std::make_pair(storage, std::move(made));
}

}  // namespace

Status renewOutdatedDerivatives(SyncRun& run) {
  auto outdated = run.catalog.outdatedDerivatives();
  if (!outdated || outdated->empty()) return outdated.status();
  if (Status loaded = run.loadMedia(); !loaded) return loaded;
  MediaModule& media = run.media();
  OrderedPool<Made> pool(outdated->size(),
                         [&](std::size_t i) { return remake(media, run.libraryFolder, (*outdated)[i]); });
  for (std::size_t i = 0; i < outdated->size(); ++i) {
    auto taken = takeInTurn(run.batch, pool, i);
    if (!taken) return taken.status();
    auto [storage, made] = std::move(taken).value();
    if (made.empty()) continue;  // kept as they are
    if (Status begun = run.batch.begin(); !begun) return begun;
    auto present = run.catalog.hasAsset((*outdated)[i].assetRow);
    if (!present) return present.status();
    if (!*present) {
      for (const StoredDerivative& d : made) run.batch.unlinkAfter().push_back(d.path);
      continue;
    }
    if (Status replaced = run.catalog.replaceDerivatives((*outdated)[i].assetRow, made, run.batch.unlinkAfter());
        !replaced)
      return replaced;
    if (Status committed = run.batch.commitIfDue(false); !committed) return committed;
  }
  return run.batch.commitIfDue(true);
}

}  // namespace tolvek
