#include "support/in_memory_image_manager.h"

#include <memory>

namespace tolvek {

void InMemoryImageManager::setPicture(const std::string& assetId, PixelSize size, FakeBitmapMode mode,
                                      bool placeholderFirst) {
  pictures_[assetId] = PictureSetting{size, mode, placeholderFirst};
}

void InMemoryImageManager::setData(const std::string& assetId, std::optional<std::string> data,
                                   std::optional<std::string> typeIdentifier) {
  data_[assetId] = DataSetting{std::move(data), std::move(typeIdentifier)};
}

void InMemoryImageManager::requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                                        const ImageRequestOptions& options, const ImageHandler& resultHandler) {
  imageRequests_.push_back({asset.localIdentifier, targetSize, contentMode, options});
  const auto it = pictures_.find(asset.localIdentifier);
  if (it == pictures_.end()) {
    resultHandler(nullptr);
    return;
  }
  if (it->second.placeholderFirst) {
    resultHandler(std::make_unique<FakePicture>(PixelSize{1, 1}, "placeholder:" + asset.localIdentifier));
  }
  resultHandler(std::make_unique<FakePicture>(it->second.size, asset.localIdentifier, it->second.mode));
}

void InMemoryImageManager::requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                                          const DataHandler& resultHandler) {
  dataRequests_.push_back({asset.localIdentifier, options});
  const auto it = data_.find(asset.localIdentifier);
  if (it == data_.end()) {
    resultHandler(std::nullopt, std::nullopt);
    return;
  }
  resultHandler(it->second.data, it->second.typeIdentifier);
}

}  // namespace tolvek
