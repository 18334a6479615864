#include "platform/media/derivative_writer.h"

#include <unistd.h>

#include "platform/media/file_render.h"
#include "platform/media/vips_picture.h"
#include "platform/posix/temporary_files.h"

namespace tolvek::media {
namespace {

std::optional<StoredDerivative> save(VipsImage* pixels, const std::string& path) {
  const auto jpeg = encodeJpeg(pixels, kDerivativeQuality, JpegMetadata::none, true);
  // Through a temporary name: a derivative is complete or does not exist.
  if (!jpeg || !writeFileAtomically(path, *jpeg, Publish::replace, 0644).ok()) return std::nullopt;
  return StoredDerivative{path, pixels->Xsize, pixels->Ysize, jpeg->size(), kDerivativeQualityPercent};
}

}  // namespace

std::vector<StoredDerivative> writeDerivatives(const std::string& path, MediaType mediaType,
                                               const std::string& pathPrefix) {
  const PixelSize large{kDerivativeShortSide, kDerivativeShortSide};
  const ImagePtr big = renderFileToPixels(path, 0, mediaType, large);
  if (!big) return {};
  std::vector<StoredDerivative> made;
  const std::int64_t shortSide = std::min<std::int64_t>(big->Xsize, big->Ysize);
  ImagePtr small;
  if (shortSide > kSmallDerivativeShortSide) {
    small = coverPixels(big.get(), PixelSize{kSmallDerivativeShortSide, kSmallDerivativeShortSide});
    if (!small) return {};
  }
  const auto first = save(small ? small.get() : big.get(), pathPrefix + "-240.jpg");
  if (!first) return {};
  made.push_back(*first);
  if (shortSide >= kDerivativeShortSide) {
    const auto second = save(big.get(), pathPrefix + "-512.jpg");
    if (!second) {
      ::unlink(first->path.c_str());
      return {};
    }
    made.push_back(*second);
  }
  return made;
}

}  // namespace tolvek::media
