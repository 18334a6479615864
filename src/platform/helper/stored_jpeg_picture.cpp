#include "platform/helper/stored_jpeg_picture.h"

#include <cmath>

#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

class StoredJpegBitmap final : public Bitmap {
 public:
  StoredJpegBitmap(std::shared_ptr<const std::string> bytes, int quality)
      : bytes_(std::move(bytes)), quality_(quality) {}

  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const override {
    // The derivative carries no metadata, so it serves a request for none.
    if (metadata == JpegMetadata::none && std::isfinite(quality) && std::lround(quality * 100.0) == quality_) {
      return *bytes_;
    }
    MediaModule* module = loadMediaModule();
    if (module == nullptr) return std::nullopt;
    const std::unique_ptr<Picture> picture = module->pictureDecoder().decode(*bytes_);
    const std::unique_ptr<Bitmap> bitmap = picture ? picture->bitmap() : nullptr;
    if (!bitmap) return std::nullopt;
    return bitmap->jpegRepresentation(quality, metadata);
  }

 private:
  std::shared_ptr<const std::string> bytes_;
  int quality_;
};

class StoredJpegPicture final : public Picture {
 public:
  StoredJpegPicture(std::shared_ptr<const std::string> bytes, PixelSize size, int quality)
      : bytes_(std::move(bytes)), size_(size), quality_(quality) {}
  PixelSize size() const override { return size_; }
  std::unique_ptr<Bitmap> bitmap() const override { return std::make_unique<StoredJpegBitmap>(bytes_, quality_); }

 private:
  std::shared_ptr<const std::string> bytes_;
  PixelSize size_;
  int quality_;
};

bool isWholeJpegStream(const std::string& bytes) {
  return bytes.size() >= 4 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0 &&
         bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

}  // namespace

std::optional<std::string> storedJpegBytes(const StoredDerivative& derivative) {
  if (!derivative.bytes) return std::nullopt;
  auto bytes = readRegularFile(derivative.path, *derivative.bytes);
  if (!bytes || bytes->size() != *derivative.bytes || !isWholeJpegStream(*bytes)) return std::nullopt;
  return std::move(bytes).value();
}

std::unique_ptr<Picture> storedJpegPicture(const StoredDerivative& derivative, std::string bytes) {
  const PixelSize size{derivative.width, derivative.height};
  if (!derivative.quality || size.width <= 0 || size.height <= 0) return nullptr;
  return std::make_unique<StoredJpegPicture>(std::make_shared<const std::string>(std::move(bytes)), size,
                                             *derivative.quality);
}

}  // namespace tolvek
