#include "platform/sources/sync_run.h"

namespace tolvek {

void SyncRun::offline(const Source& source, const std::string& reason) {
  ++tally.offline;
  problem(source.path + ": offline, " + reason + "; its assets are kept");
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
