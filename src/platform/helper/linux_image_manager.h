#pragma once
// Image requests on the library on disk: rendered pictures from derivatives
// or originals, and original bytes (downloaded when the original is remote
// and network access is allowed). The media module is opened on first use.
#include "library/image_manager.h"
#include "platform/modules/remote_download.h"
#include "platform/catalog/stored_asset.h"

namespace tolvek {

class LinuxImageManager final : public ImageManager {
 public:
  // `index` outlives this manager.
  explicit LinuxImageManager(StoredAssetIndex& index);
  // With other download limits (tests use a short stall limit).
  LinuxImageManager(StoredAssetIndex& index, DownloadLimits limits);
  void requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                    const ImageRequestOptions& options, const ImageHandler& resultHandler) override;
  void requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                      const DataHandler& resultHandler) override;

 private:
  std::unique_ptr<Picture> render(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                                  const ImageRequestOptions& options);
  std::optional<std::string> originalBytes(const StoredOriginal& original, const ImageRequestOptions& options);

  StoredAssetIndex& index_;
  DownloadLimits limits_;
};

}  // namespace tolvek
