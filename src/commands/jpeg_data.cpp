#include "commands/jpeg_data.h"

#include <glib.h>

#include <memory>

namespace tolvek {

std::optional<std::string> jpegData(const Picture& picture, double quality, JpegMetadata metadata) {
  const PixelSize size = picture.size();
  if (size.width <= 0 || size.height <= 0) return std::nullopt;
  const std::unique_ptr<Bitmap> bitmap = picture.bitmap();
  if (!bitmap) return std::nullopt;
  return bitmap->jpegRepresentation(quality, metadata);
}

std::string jpegDataUrl(std::string_view jpeg) {
  const std::unique_ptr<gchar, decltype(&g_free)> base64(
      g_base64_encode(reinterpret_cast<const guchar*>(jpeg.data()), jpeg.size()), &g_free);
  std::string url(kJpegDataUrlPrefix);
  url += base64.get();
  return url;
}

}  // namespace tolvek
