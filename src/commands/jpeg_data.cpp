#include "commands/jpeg_data.h"

namespace tolvek {

std::optional<std::string> jpegData(const Picture& picture, double quality, JpegMetadata metadata) {
  const PixelSize size = picture.size();
  if (size.width <= 0 || size.height <= 0) return std::nullopt;
  const std::unique_ptr<Bitmap> bitmap = picture.bitmap();
  if (!bitmap) return std::nullopt;
  return bitmap->jpegRepresentation(quality, metadata);
}

}  // namespace tolvek
