#pragma once
// Resource writes on the library on disk: a worker thread copies a local
// original with the kernel's copy, or streams a remote one and checks it
// against the catalog, into a temporary file beside the destination that is
// renamed to it only when complete.
#include <atomic>
#include <map>
#include <memory>

#include "library/resource_manager.h"
#include "platform/catalog/stored_asset.h"
#include "platform/modules/remote_download.h"
#include "platform/system/mutex.h"

namespace tolvek {

class LinuxResourceManager final : public ResourceManager {
 public:
  // `index` is only used before writeDataForAssetResource returns; the worker
  // threads own everything they touch, so they may outlive this manager.
  explicit LinuxResourceManager(StoredAssetIndex& index);
  // With other download limits (tests use a short stall limit).
  LinuxResourceManager(StoredAssetIndex& index, DownloadLimits limits);
  // Called on the main thread; the worker gets its own cancel flag.
  RequestId writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                      const ResourceRequestOptions& options, Completion completion) override;
  void cancelDataRequest(RequestId request) override;

 private:
  StoredAssetIndex& index_;
  DownloadLimits limits_;
  RequestId lastRequest_ = 0;  // the main thread's alone
  Mutex requestsMutex_;
  // The cancel flags of the writes started here; shared with their workers.
  std::map<RequestId, std::shared_ptr<std::atomic<bool>>> requests_ GUARDED_BY(requestsMutex_);
};

}  // namespace tolvek
