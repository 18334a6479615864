#include "commands/jpeg_data_url.h"

#include <glib.h>

#include <memory>

namespace tolvek {

std::string jpegDataUrl(std::string_view jpeg) {
  const std::unique_ptr<gchar, decltype(&g_free)> base64(
      g_base64_encode(reinterpret_cast<const guchar*>(jpeg.data()), jpeg.size()), &g_free);
  std::string url(kJpegDataUrlPrefix);
  url += base64.get();
  return url;
}

}  // namespace tolvek
