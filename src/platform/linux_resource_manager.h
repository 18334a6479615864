#pragma once
// Resource writes on the library on disk: a worker thread copies a local
// original with the kernel's copy, or streams a remote one to the file.
#include <memory>

#include "library/resource_manager.h"
#include "platform/remote_download.h"
#include "platform/stored_asset.h"

namespace tolvek {

class LinuxResourceManager final : public ResourceManager {
 public:
  // `index` is only used before writeDataForAssetResource returns; the worker
  // threads own everything they touch, so they may outlive this manager.
  explicit LinuxResourceManager(StoredAssetIndex& index);
  // With other download limits (tests use a short stall limit).
  LinuxResourceManager(StoredAssetIndex& index, DownloadLimits limits);
  void writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                 const ResourceRequestOptions& options, Completion completion) override;

 private:
  StoredAssetIndex& index_;
  DownloadLimits limits_;
};

}  // namespace tolvek
