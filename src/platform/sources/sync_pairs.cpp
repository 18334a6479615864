// The pairing pass, after the additions, removals and names: in every folder
// where a file came, changed, moved or went, the assets with a copy directly
// there are paired as the rule says (pair_rule.h), which records new pairs
// and undoes those the rule no longer gives. A half whose still went is
// already an asset of its own again, under the pair's identifier
// (CatalogWriter::removeAssetIfUnheld).
//
// A source recorded before the catalog kept what pairs files (a catalog
// migrated to version 7, catalog::kUnpairedSource) has every folder paired
// once, the first time a sync finds it online; its row goes in the batch
// after the last of them, so a sync killed or stopped before does it again.
// Assets recorded before then know neither their content identifier nor
// their length: the few the rule needs them of (pair_rule.h, assetsToProbe)
// are probed again from their copy in the folder, with no batch open, so the
// writer lock is not held while files are read.
#include <algorithm>
#include <set>
#include <unordered_map>

#include "platform/modules/media_module.h"
#include "platform/posix/path_text.h"
#include "platform/sources/pair_rule.h"
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

std::vector<PairCandidate> candidatesOf(const std::vector<FolderAsset>& assets) {
  std::vector<PairCandidate> candidates;
  candidates.reserve(assets.size());
  for (const FolderAsset& a : assets) {
    std::optional<double> seconds;
    if (a.durationMs) seconds = static_cast<double>(*a.durationMs) / 1000.0;
    candidates.push_back(
        {a.row, a.name, a.mediaType, a.typeIdentifier, a.contentIdentifier, seconds, a.factsKnown});
  }
  return candidates;
}

// The content identifier and length of the asset's copy, opened as the sync
// opens files; nothing when it cannot be read or is no longer the file
// recorded (the next sync examines it anew).
bool probeFacts(SyncRun& run, FolderAsset& asset) {
  auto file = openRecordedCopy(asset.copy);
  if (!file) return false;
  const FileIdentity& opened = file->identity();
  if (opened.inode != asset.copy.inode || opened.modifiedNs != asset.copy.modifiedNs ||
      file->size() != asset.copy.size)
    return false;
  const std::string path = asset.copy.absolutePath();
  auto probe = run.media().probe(file->openedName(path), path);
  if (!probe) return false;
  asset.contentIdentifier = std::move(probe->contentIdentifier);
  asset.durationMs = durationMsOf(probe->durationSeconds);
  asset.factsKnown = true;
  return true;
}

// Probes the assets of the folder whose facts the rule needs; gives those
// it learnt, to be recorded.
Result<std::vector<const FolderAsset*>> probeUnknown(SyncRun& run, std::vector<FolderAsset>& assets) {
  const std::vector<std::int64_t> wanted = assetsToProbe(candidatesOf(assets));
  std::vector<const FolderAsset*> learnt;
  if (wanted.empty()) return learnt;
  if (Status loaded = run.loadMedia(); !loaded) return loaded;
  if (Status committed = run.batch.commitIfDue(true); !committed) return committed;
  for (FolderAsset& asset : assets) {
    if (std::find(wanted.begin(), wanted.end(), asset.row) == wanted.end()) continue;
    if (probeFacts(run, asset)) learnt.push_back(&asset);
  }
  return learnt;
}

Status pairFolder(SyncRun& run, const std::string& folder) {
  auto assets = run.catalog.assetsInFolder(folder);
  if (!assets) return assets.status();
  auto learnt = probeUnknown(run, *assets);
  if (!learnt) return learnt.status();
  if (Status begun = run.batch.begin(); !begun) return begun;
  for (const FolderAsset* a : *learnt) {
    if (Status recorded = run.catalog.recordPairFacts(a->row, a->contentIdentifier, a->durationMs); !recorded)
      return recorded;
  }
  std::unordered_map<std::int64_t, std::int64_t> wanted;  // half -> primary
  for (const PairLink& link : pairsInFolder(candidatesOf(*assets))) wanted[link.other] = link.primary;
  for (const FolderAsset& a : *assets) {
    const auto want = wanted.find(a.row);
    const bool keeps = want != wanted.end() && a.pairedTo == want->second;
    if (a.pairedTo && !keeps) {
      if (Status alone = run.catalog.unpairAsset(a.row); !alone) return alone;
    }
    if (want != wanted.end() && !keeps) {
      if (Status paired = run.catalog.pairAssets(want->second, a.row); !paired) return paired;
    }
  }
  return run.batch.commitIfDue(false);
}

// The folders (absolute) holding a copy of an asset in the source of plan
// `index`.
Status addFoldersOf(const SyncRun& run, std::size_t index, std::set<std::string>& folders) {
  auto files = run.catalog.filesOf(run.plans[index].source.row, true);
  if (!files) return files.status();
  for (const SourceFile& file : *files) folders.insert(std::string(folderPart(run.absolute(index, file.path))));
  return {};
}

// Every folder of the sources synced that are still to be paired since the
// catalog's migration, then the end of that for them; stops early, leaving
// them to the next sync, when the observer asks to.
Status pairUpgradedSources(SyncRun& run, const std::set<std::string>& done) {
  auto unpaired = run.catalog.unpairedSources();
  if (!unpaired || unpaired->empty()) return unpaired.status();
  std::set<std::string> folders;
  std::vector<std::int64_t> upgraded;
  for (std::size_t i = 0; i < run.plans.size(); ++i) {
    const std::int64_t row = run.plans[i].source.row;
    if (std::find(unpaired->begin(), unpaired->end(), row) == unpaired->end()) continue;
    if (Status listed = addFoldersOf(run, i, folders); !listed) return listed;
    upgraded.push_back(row);
  }
  for (const std::string& folder : folders) {
    if (done.contains(folder)) continue;
    if (Status paired = pairFolder(run, folder); !paired) return paired;
    if (run.observer.stop && run.observer.stop()) return run.batch.commitIfDue(true);
  }
  if (upgraded.empty()) return {};
  if (Status begun = run.batch.begin(); !begun) return begun;
  for (const std::int64_t row : upgraded) {
    if (Status recorded = run.catalog.sourcePaired(row); !recorded) return recorded;
  }
  return run.batch.commitIfDue(true);
}

}  // namespace

Status pairFolders(SyncRun& run) {
  std::set<std::string> folders = run.pendingFolders;
  for (const Pending& item : run.pending) folders.insert(std::string(folderPart(run.absolute(item.plan, item.walked.path))));
  for (const Gone& gone : run.gone) folders.insert(std::string(folderPart(run.absolute(gone.plan, gone.file.path))));
  for (const std::string& folder : folders) {
    if (Status paired = pairFolder(run, folder); !paired) return paired;
  }
  return pairUpgradedSources(run, folders);
}

}  // namespace tolvek
