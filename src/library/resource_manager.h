#pragma once
// Writes an asset's resource into a file, off the calling thread (or, for a
// copy that takes a moment, on it).
#include <cstdint>
#include <functional>
#include <string>

#include "library/photo_types.h"
#include "library/status.h"

namespace tolvek {

struct ResourceRequestOptions {
  bool networkAccessAllowed = false;
};

class ResourceManager {
 public:
  // Ok once the file is complete, else what went wrong ("No such file or
  // directory", "The server answered 404").
  using Completion = std::function<void(Status status)>;

  // Names one write, for cancelling it.
  using RequestId = std::int64_t;

  virtual ~ResourceManager() = default;
  // Returns at once (an implementation may first copy a small local file,
  // its completion then having run). The whole resource is written to
  // `filePath`, which must not exist yet; the file appears under that name
  // only once complete, and an existing file there is never replaced. `completion` runs exactly
  // once, on any thread, possibly after the caller has stopped waiting. It
  // owns what it captures.
  virtual RequestId writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                              const ResourceRequestOptions& options, Completion completion) = 0;
  // Stops a write that still runs: nothing of it stays behind and its
  // completion reports an error. Does nothing for a finished or unknown write.
  virtual void cancelDataRequest(RequestId request) = 0;
};

}  // namespace tolvek
