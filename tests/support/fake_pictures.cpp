#include "support/fake_pictures.h"

#include <cstdio>
#include <sstream>

namespace tolvek {
namespace {

class FakeBitmap final : public Bitmap {
 public:
  FakeBitmap(PixelSize size, std::string tag, bool encodes) : size_(size), tag_(std::move(tag)), encodes_(encodes) {}
  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const override {
    if (!encodes_) return std::nullopt;
    return fakeJpeg(size_, tag_, quality, metadata);
  }

 private:
  PixelSize size_;
  std::string tag_;
  bool encodes_;
};

}  // namespace

std::string fakePictureData(PixelSize size, const std::string& tag, FakeBitmapMode mode) {
  std::ostringstream out;
  out << "FAKEPIC|" << size.width << '|' << size.height << '|' << static_cast<int>(mode) << '|' << tag;
  return out.str();
}

std::string fakeJpeg(PixelSize size, const std::string& tag, double quality, JpegMetadata metadata) {
  char text[96];
  std::snprintf(text, sizeof text, "FAKEJPEG|q=%.2f|%s|%lldx%lld|", quality,
                metadata == JpegMetadata::keepCaptureData ? "keep" : "bare", static_cast<long long>(size.width),
                static_cast<long long>(size.height));
  return text + tag;
}

std::unique_ptr<Bitmap> FakePicture::bitmap() const {
  if (mode_ == FakeBitmapMode::noBitmap) return nullptr;
  return std::make_unique<FakeBitmap>(size_, tag_, mode_ == FakeBitmapMode::ok);
}

std::unique_ptr<Picture> FakePictureDecoder::decode(std::string_view data) {
  ++decodeCalls_;
  constexpr std::string_view prefix = "FAKEPIC|";
  if (data.substr(0, prefix.size()) != prefix) return nullptr;
  std::istringstream in{std::string(data.substr(prefix.size()))};
  PixelSize size;
  int mode = 0;
  char bar1 = 0, bar2 = 0, bar3 = 0;
  if (!(in >> size.width >> bar1 >> size.height >> bar2 >> mode >> bar3) || bar1 != '|' || bar2 != '|' ||
      bar3 != '|' || mode < 0 || mode > 2) {
    return nullptr;
  }
  std::string tag;
  std::getline(in, tag, '\0');
  return std::make_unique<FakePicture>(size, tag, static_cast<FakeBitmapMode>(mode));
}

}  // namespace tolvek
