#pragma once
// Writes an asset's resource into a file, off the calling thread.
#include <functional>
#include <optional>
#include <string>

#include "library/photo_types.h"

namespace tolvek {

struct ResourceRequestOptions {
  bool networkAccessAllowed = false;
};

class ResourceManager {
 public:
  // nullopt on success, else a description of what went wrong
  // ("No such file or directory", "The server answered 404").
  using Completion = std::function<void(std::optional<std::string> error)>;

  virtual ~ResourceManager() = default;
  // Returns at once. The whole resource is written to `filePath`, which must
  // not exist yet; `completion` runs exactly once, on any thread, possibly
  // after the caller has stopped waiting. It owns what it captures.
  virtual void writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                         const ResourceRequestOptions& options, Completion completion) = 0;
};

}  // namespace tolvek
