#include "platform/media/derivative_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/media/file_render.h"
#include "platform/media/vips_picture.h"

namespace tolvek::media {
namespace {

// Writes through a temporary name and renames, so a derivative either is
// complete or does not exist.
bool writeWhole(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".partial";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (written != bytes.size() || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::optional<StoredDerivative> save(VipsImage* pixels, const std::string& path) {
  const auto jpeg = encodeJpeg(pixels, kDerivativeQuality, JpegMetadata::none);
  if (!jpeg || !writeWhole(path, *jpeg)) return std::nullopt;
  return StoredDerivative{path, pixels->Xsize, pixels->Ysize};
}

}  // namespace

std::vector<StoredDerivative> writeDerivatives(const std::string& path, std::int64_t mediaType,
                                               const std::string& pathPrefix) {
  const PixelSize large{kDerivativeShortSide, kDerivativeShortSide};
  const ImagePtr big = renderFileToPixels(path, mediaType, large);
  if (!big) return {};
  std::vector<StoredDerivative> made;
  const std::int64_t shortSide = std::min<std::int64_t>(big->Xsize, big->Ysize);
  if (shortSide > kSmallDerivativeShortSide) {
    const ImagePtr small =
        coverPixels(big.get(), PixelSize{kSmallDerivativeShortSide, kSmallDerivativeShortSide});
    if (!small) return {};
    const auto saved = save(small.get(), pathPrefix + "-240.jpg");
    if (!saved) return {};
    made.push_back(*saved);
  }
  const auto saved = save(big.get(), pathPrefix + "-512.jpg");
  if (!saved) {
    for (const auto& derivative : made) ::unlink(derivative.path.c_str());
    return {};
  }
  made.push_back(*saved);
  return made;
}

}  // namespace tolvek::media
