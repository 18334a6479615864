#pragma once
// Image requests of the in-memory library: per asset, a fake picture to
// deliver (or none) and the original's bytes with a type identifier (or
// none). Every request is synchronous and recorded.
#include <map>
#include <memory>
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
                  bool placeholderFirst = false) {
    pictures_[assetId] = PictureSetting{size, mode, placeholderFirst};
  }
  void setData(const std::string& assetId, std::optional<std::string> data, std::optional<std::string> typeIdentifier) {
    data_[assetId] = DataSetting{std::move(data), std::move(typeIdentifier)};
  }

  void requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                    const ImageRequestOptions& options, const ImageHandler& resultHandler) override {
    imageRequests_.push_back({asset.localIdentifier, targetSize, contentMode, options});
    const auto it = pictures_.find(asset.localIdentifier);
    if (it == pictures_.end()) return resultHandler(nullptr);
    if (it->second.placeholderFirst) {
      resultHandler(std::make_unique<FakePicture>(PixelSize{1, 1}, "placeholder:" + asset.localIdentifier));
    }
    resultHandler(std::make_unique<FakePicture>(it->second.size, asset.localIdentifier, it->second.mode));
  }
  void requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                      const DataHandler& resultHandler) override {
    dataRequests_.push_back({asset.localIdentifier, options});
    const auto it = data_.find(asset.localIdentifier);
    if (it == data_.end()) return resultHandler(std::nullopt, std::nullopt);
    resultHandler(it->second.data, it->second.typeIdentifier);
  }

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
