#pragma once
// Pictures without pixels: a fake picture has a size, may refuse to give a
// bitmap or to encode, and "encodes" to a recognisable text that records the
// quality and metadata it was asked for. Real JPEGs are tested end to end.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "library/picture.h"

namespace tolvek {

enum class FakeBitmapMode { ok, noBitmap, encodeFails };

// The bytes that `FakePictureDecoder` decodes into such a picture.
std::string fakePictureData(PixelSize size, const std::string& tag, FakeBitmapMode mode = FakeBitmapMode::ok);
// What the bitmap of that picture encodes to.
std::string fakeJpeg(PixelSize size, const std::string& tag, double quality, JpegMetadata metadata);

class FakePicture final : public Picture {
 public:
  FakePicture(PixelSize size, std::string tag, FakeBitmapMode mode = FakeBitmapMode::ok)
      : size_(size), tag_(std::move(tag)), mode_(mode) {}
  PixelSize size() const override { return size_; }
  std::unique_ptr<Bitmap> bitmap() const override;

 private:
  PixelSize size_;
  std::string tag_;
  FakeBitmapMode mode_;
};

// Decodes only data made by fakePictureData; anything else is no picture.
class FakePictureDecoder final : public PictureDecoder {
 public:
  std::unique_ptr<Picture> decode(std::string_view data) override;
  std::size_t decodeCalls() const { return decodeCalls_.load(); }

 private:
  std::atomic<std::size_t> decodeCalls_{0};
};

}  // namespace tolvek
