#pragma once
// A decoded picture, upright (orientation already applied to the pixels).
// The real implementation lives in the media module, loaded on first use.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

struct PixelSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// What a JPEG carries besides the pixels.
enum class JpegMetadata {
  none,             // no EXIF, XMP or colour profile: nothing of where or when
  keepCaptureData,  // the source's EXIF, XMP and colour profile, orientation set to 1
};

// Pixels held in memory, ready to encode.
class Bitmap {
 public:
  virtual ~Bitmap() = default;
  // JPEG bytes at `quality` (0 to 1), or nothing when encoding fails,
  // including when the pixels turn out not to decode as they are read.
  virtual std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const = 0;
};

class Picture {
 public:
  virtual ~Picture() = default;
  // Pixel size of the upright picture.
  virtual PixelSize size() const = 0;
  // The pixels, ready to encode; nothing when they cannot be produced
  // (corrupt data). An upright picture may be decoded only as it is
  // encoded, so damage can also show as a failed jpegRepresentation.
  virtual std::unique_ptr<Bitmap> bitmap() const = 0;
};

// Turns encoded picture bytes (JPEG, PNG, HEIC, HEIF, TIFF, WebP, GIF, AVIF)
// into a picture, or nothing when the data is not a picture it can read or
// declares more pixels than it accepts.
class PictureDecoder {
 public:
  virtual ~PictureDecoder() = default;
  virtual std::unique_ptr<Picture> decode(std::string_view data) = 0;
};

}  // namespace tolvek
