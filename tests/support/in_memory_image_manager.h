#pragma once
// Image requests of the in-memory library: per asset, a fake picture to
// deliver (or none) and the original's bytes with a type identifier (or
// none). Every request is synchronous and recorded.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "library/image_manager.h"
#include "support/fake_pictures.h"

namespace tolvek {

struct ImageRequestRecord {
  std::string assetId;
  PixelSize targetSize;
  ContentMode contentMode;
  ImageRequestOptions options;
};

struct DataRequestRecord {
  std::string assetId;
  ImageRequestOptions options;
};

class InMemoryImageManager final : public ImageManager {
 public:
  // Delivers a fake picture of `size`, tagged with the asset identifier.
  // With `placeholderFirst`, a 1x1 picture is delivered before it, as an
  // opportunistic delivery would.
  void setPicture(const std::string& assetId, PixelSize size, FakeBitmapMode mode = FakeBitmapMode::ok,
                  bool placeholderFirst = false);
  void setData(const std::string& assetId, std::optional<std::string> data,
               std::optional<std::string> typeIdentifier);

  void requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                    const ImageRequestOptions& options, const ImageHandler& resultHandler) override;
  void requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                      const DataHandler& resultHandler) override;

  const std::vector<ImageRequestRecord>& imageRequests() const { return imageRequests_; }
  const std::vector<DataRequestRecord>& dataRequests() const { return dataRequests_; }

 private:
  struct PictureSetting {
    PixelSize size;
    FakeBitmapMode mode;
    bool placeholderFirst;
  };
  struct DataSetting {
    std::optional<std::string> data;
    std::optional<std::string> typeIdentifier;
  };
  std::map<std::string, PictureSetting> pictures_;
  std::map<std::string, DataSetting> data_;
  std::vector<ImageRequestRecord> imageRequests_;
  std::vector<DataRequestRecord> dataRequests_;
};

}  // namespace tolvek
