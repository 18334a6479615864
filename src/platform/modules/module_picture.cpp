#include "platform/modules/module_picture.h"

#include <string>

namespace tolvek {
namespace {

class ModuleBitmap final : public Bitmap {
 public:
  ModuleBitmap(const TolvekPictureTable& table, TolvekBitmap* bitmap) : table_(table), bitmap_(bitmap) {}
  ~ModuleBitmap() override { table_.freeBitmap(bitmap_); }
  ModuleBitmap(const ModuleBitmap&) = delete;
  ModuleBitmap& operator=(const ModuleBitmap&) = delete;

  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const override {
    TolvekBytes bytes{nullptr, 0, nullptr};
    const int kept = metadata == JpegMetadata::keepCaptureData ? kTolvekJpegKeepCaptureData : kTolvekJpegNoMetadata;
    if (table_.jpeg(bitmap_, quality, kept, &bytes) == 0) return std::nullopt;
    // Freed by the module whatever happens to the copy.
    std::unique_ptr<void, void (*)(void*)> owner(bytes.owner, table_.freeBytes);
    return std::string(bytes.data, bytes.size);
  }

 private:
  const TolvekPictureTable& table_;
  TolvekBitmap* bitmap_;
};

class ModulePicture final : public Picture {
 public:
  ModulePicture(const TolvekPictureTable& table, TolvekPicture* picture) : table_(table), picture_(picture) {
    table_.size(picture_, &size_.width, &size_.height);
  }
  ~ModulePicture() override { table_.freePicture(picture_); }
  ModulePicture(const ModulePicture&) = delete;
  ModulePicture& operator=(const ModulePicture&) = delete;

  PixelSize size() const override { return size_; }
  std::unique_ptr<Bitmap> bitmap() const override {
    TolvekBitmap* bitmap = table_.bitmap(picture_);
    if (bitmap == nullptr) return nullptr;
    return std::make_unique<ModuleBitmap>(table_, bitmap);
  }

 private:
  const TolvekPictureTable& table_;
  TolvekPicture* picture_;
  PixelSize size_;
};

}  // namespace

std::unique_ptr<Picture> adoptModulePicture(const TolvekPictureTable& table, TolvekPicture* picture) {
  if (picture == nullptr) return nullptr;
  return std::make_unique<ModulePicture>(table, picture);
}

}  // namespace tolvek
