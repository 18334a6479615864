// The pairing pass, after the additions, removals and names: in every folder
// where a file came, changed, moved or went, the assets with a copy directly
// there are paired as the rule says (pair_rule.h), which records new pairs
// and undoes those the rule no longer gives. A half whose still went is
// already an asset of its own again, under the pair's identifier
// (CatalogWriter::removeAssetIfUnheld).
#include <set>
#include <unordered_map>

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
    candidates.push_back({a.row, a.name, a.mediaType, a.typeIdentifier, a.contentIdentifier, seconds});
  }
  return candidates;
}

Status pairFolder(SyncRun& run, const std::string& folder) {
  auto assets = run.catalog.assetsInFolder(folder);
  if (!assets) return assets.status();
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
  return {};
}

}  // namespace

Status pairChangedFolders(SyncRun& run) {
  std::set<std::string> folders;
  for (const Pending& item : run.pending) folders.insert(std::string(folderPart(run.absolute(item.plan, item.walked.path))));
  for (const Gone& gone : run.gone) folders.insert(std::string(folderPart(run.absolute(gone.plan, gone.file.path))));
  if (folders.empty()) return {};
  for (const std::string& folder : folders) {
    if (Status begun = run.batch.begin(); !begun) return begun;
    if (Status paired = pairFolder(run, folder); !paired) return paired;
    if (Status committed = run.batch.commitIfDue(false); !committed) return committed;
  }
  return {};
}

}  // namespace tolvek
