#pragma once
// Resource writes on the library on disk: a worker thread copies a local
// original with the kernel's copy, or streams a remote one to the file.
#include <memory>

#include "library/resource_manager.h"
#include "platform/stored_asset.h"

namespace tolvek {

class LinuxResourceManager final : public ResourceManager {
 public:
  // `index` is only used before writeDataForAssetResource returns; the worker
  // threads own everything they touch, so they may outlive this manager.
  explicit LinuxResourceManager(StoredAssetIndex& index);
  void writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                 const ResourceRequestOptions& options, Completion completion) override;

 private:
  StoredAssetIndex& index_;
};

}  // namespace tolvek
