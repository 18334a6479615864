#include "platform/sources/sync_run.h"

#include <algorithm>

#include "platform/posix/path_text.h"

namespace tolvek {

void SyncRun::offline(const Source& source, const std::string& reason) {
  ++tally.offline;
  problem(source.path + ": offline, " + reason + "; its assets are kept");
}

void SyncRun::folderLink(std::size_t plan, const std::string& relative) {
  const std::string link = absolute(plan, relative);
  const std::optional<std::string> target = realPath(link);
  if (!target) return;  // gone or made a loop since the walk
  if (!folderSources_) {
    folderSources_.emplace();
    // Sources the catalog cannot list now are taken as none: the link is told.
    if (auto sources = catalog.sources()) {
      for (const Source& source : *sources) {
        if (source.kind != SourceKind::folder) continue;
        folderSources_->emplace_back(source.path, realPath(source.path).value_or(source.path));
      }
    }
  }
  // A link into a source is already included; one to a folder holding its
  // own source is a loop (the source's real path was found with the others).
  const std::string& root = plans[plan].source.path;
  const bool included = std::any_of(folderSources_->begin(), folderSources_->end(), [&](const auto& source) {
    return isWithinFolder(*target, source.first) || isWithinFolder(*target, source.second) ||
           (source.first == root && isWithinFolder(source.second, *target));
  });
  if (included || isWithinFolder(root, *target)) return;
  ++tally.linksNotFollowed;
  problem("not followed: " + link + " \u2192 " + *target + "; add " + *target + " as a source to include it");
}

RecordedCopy SyncRun::copyAt(std::size_t plan, const std::string& relative) const {
  RecordedCopy copy;
  copy.kind = plans[plan].source.kind;
  copy.sourcePath = plans[plan].source.path;
  copy.relative = relative;
  return copy;
}

void SyncRun::addGone(std::size_t plan, SourceFile file) {
  if (file.assetRow) goneByAsset[*file.assetRow].push_back(gone.size());
  gone.push_back({plan, std::move(file), false});
}

Status SyncRun::loadMedia() {
  if (media_ == nullptr) media_ = loadMedia_();
  return media_ != nullptr ? Status{} : Status::error("the media module cannot be loaded");
}

}  // namespace tolvek
