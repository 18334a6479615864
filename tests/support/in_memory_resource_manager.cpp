#include "support/in_memory_resource_manager.h"

#include <utility>

namespace tolvek {

void InMemoryResourceManager::setContents(std::int64_t resourceHandle, std::string bytes) {
  std::lock_guard lock(mutex_);
  contents_[resourceHandle] = std::move(bytes);
}

void InMemoryResourceManager::setOutcome(std::int64_t assetHandle, WriteOutcome outcome) {
  std::lock_guard lock(mutex_);
  outcomes_[assetHandle] = std::move(outcome);
}

ResourceManager::RequestId InMemoryResourceManager::writeDataForAssetResource(const AssetResource& resource,
                                                                             const std::string& filePath,
                                                                             const ResourceRequestOptions& options,
                                                                             Completion completion) {
  WriteOutcome outcome;
  std::string bytes;
  RequestId request = 0;
  {
    std::lock_guard lock(mutex_);
    writes_.push_back({resource, filePath, options});
    request = static_cast<RequestId>(writes_.size());
    if (const auto it = outcomes_.find(resource.assetHandle); it != outcomes_.end()) outcome = it->second;
    if (const auto it = contents_.find(resource.handle); it != contents_.end()) bytes = it->second;
    if (outcome.when == WriteOutcome::When::never) {
      held_.push_back(std::move(completion));
      return request;
    }
  }
  // The completion owns what it needs; it may run after everything else here.
  auto finish = [files = files_, filePath, bytes = std::move(bytes), error = outcome.error,
                 completion = std::move(completion)]() {
    if (error) {
      completion(Status::error(*error));
      return;
    }
    completion(files ? files->writeNewFile(filePath, bytes) : Status());
  };
  switch (outcome.when) {
    case WriteOutcome::When::beforeReturn:
      finish();
      break;
    case WriteOutcome::When::duringSlice:
      loop_.scheduleAt(loop_.clock().now() + outcome.delay, std::move(finish));
      break;
    case WriteOutcome::When::fromThread:
      loop_.startThreadAt(loop_.clock().now() + outcome.delay, std::move(finish));
      break;
    case WriteOutcome::When::never:
      break;
  }
  return request;
}

std::vector<WriteRecord> InMemoryResourceManager::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::size_t InMemoryResourceManager::heldCompletions() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

}  // namespace tolvek
