#include "commands/jpeg_data.h"

#include <memory>

#include "commands/base64.h"

namespace tolvek {

std::optional<std::string> jpegData(const Picture& picture, double quality, JpegMetadata metadata) {
  const PixelSize size = picture.size();
  if (size.width <= 0 || size.height <= 0) return std::nullopt;
  const std::unique_ptr<Bitmap> bitmap = picture.bitmap();
  if (!bitmap) return std::nullopt;
  return bitmap->jpegRepresentation(quality, metadata);
}

std::string jpegDataUrl(std::string_view jpeg) {
  std::string url(kJpegDataUrlPrefix);
  url += base64Encoded(jpeg);
  return url;
}

}  // namespace tolvek
