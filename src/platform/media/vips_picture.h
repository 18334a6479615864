#pragma once
// Pictures decoded with libvips: the header is read first and checked against
// the pixel limit before any pixel exists; the pixels come upright.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "library/picture.h"
#include "platform/media/vips_handle.h"

namespace tolvek::media {

// Pictures whose header declares more pixels than this are refused.
inline constexpr std::int64_t kMaxPicturePixels = 300'000'000;

// True for the libvips loaders of the picture formats in kMediaFormats
// (library/media_formats.h), whatever the source kind (file, buffer).
bool isPictureLoader(const char* loaderName);

// True when the image's declared size is within the pixel limit.
bool withinPixelLimit(const VipsImage* image);

// libvips' JPEG quality (1 to 100) for a compression factor from 0 to 1.
int jpegQuality(double factor);

// A reference to `image` whose colour profile, when it has one, is a copy of
// its own: libvips' HEIF loader frees the profile it attached once the
// pixels have been read, so a later read of it (to convert, or to embed)
// would read freed memory. Called on an image whose pixels are still to be
// read. Nothing when the copy cannot be made.
ImagePtr withOwnProfile(VipsImage* image);

// The pixels converted from their embedded colour profile to sRGB, without
// a profile: what a picture shows must not change when its profile is
// dropped (Display P3 or Adobe RGB numbers read as sRGB look wrong). As they
// are, without the profile, when they carry none or one that does not fit
// them. Nothing when the pipeline cannot be built.
ImagePtr inSrgb(VipsImage* pixels);

// Upright pixels: alpha flattened on white, 8-bit sRGB or grey numbers (a
// profile, kept, says what they mean), computed as they are read (a decode
// error shows when they are); nothing when the pipeline cannot be built.
ImagePtr uprightPixels(VipsImage* source);
// The same in memory; nothing when the source cannot be decoded in full.
ImagePtr uprightPixelsInMemory(VipsImage* source);

// JPEG bytes of `pixels` (already upright) at `factor`. Without metadata,
// the pixels are converted to sRGB before their profile is dropped.
// `optimizeCoding` computes Huffman tables for these pixels: a few percent
// smaller for an extra pass, worth it for files kept (derivatives).
std::optional<std::string> encodeJpeg(VipsImage* pixels, double factor, JpegMetadata metadata,
                                      bool optimizeCoding = false);

// A picture backed by a libvips image. `bytes` is the encoded data the image
// reads from (kept alive as long as the image), null for images in memory.
class VipsPicture final : public Picture {
 public:
  VipsPicture(ImagePtr image, std::shared_ptr<const std::string> bytes);
  PixelSize size() const override;
  std::unique_ptr<Bitmap> bitmap() const override;

 private:
  ImagePtr image_;
  std::shared_ptr<const std::string> bytes_;
};

class VipsPictureDecoder final : public PictureDecoder {
 public:
  std::unique_ptr<Picture> decode(std::string_view data) override;
};

}  // namespace tolvek::media
