#include "platform/media/derivative_writer.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "library/cover_size.h"
#include "platform/media/file_render.h"
#include "platform/media/jpeg_shrink.h"
#include "platform/media/vips_picture.h"
#include "platform/posix/temporary_files.h"

namespace tolvek::media {
namespace {

std::optional<StoredDerivative> save(VipsImage* pixels, const std::string& path, PixelSize original) {
  // Without a profile, so in sRGB (encodeJpeg converts them).
  const auto jpeg = encodeJpeg(pixels, kDerivativeQuality, JpegMetadata::none, true);
  // Through a temporary name: a derivative is complete or does not exist.
  if (!jpeg || !writeFileAtomically(path, *jpeg, Publish::replace, 0644).ok()) return std::nullopt;
  return StoredDerivative{path, pixels->Xsize, pixels->Ysize, jpeg->size(), kDerivativeQualityPercent, original};
}

// The derivative of `side` for the asset whose files start with `pathPrefix`.
std::string derivativePath(const std::string& pathPrefix, std::int64_t side) {
  return pathPrefix + "-" + std::to_string(side) + ".jpg";
}

// The large derivative's pixels: a JPEG shrunk on load as far as they
// allow, anything else as a thumbnail renders it.
RenderedFile largePixels(const std::string& path, MediaType mediaType, PixelSize large) {
  if (mediaType == MediaType::image) {
    if (auto file = ReadableFile::open(path)) {
      RenderedFile shrunk = shrunkJpeg(*file, large);
      if (shrunk.pixels) return shrunk;
    }
  }
  return renderFileToPixels(path, 0, mediaType, large);
}

}  // namespace

std::vector<StoredDerivative> writeDerivatives(const std::string& path, MediaType mediaType,
                                               const std::string& pathPrefix) {
  const PixelSize large{kDerivativeShortSide, kDerivativeShortSide};
  const RenderedFile big = largePixels(path, mediaType, large);
  if (!big.pixels) return {};
  // Both sizes come from the original's, as a thumbnail's does: a derivative
  // of the size a request covers is exactly what the original gives.
  const PixelSize original = big.upright;
  const ImagePtr small =
      resizedPixels(big.pixels.get(), coverSize(original, {kSmallDerivativeShortSide, kSmallDerivativeShortSide}));
  if (!small) return {};
  std::vector<StoredDerivative> made;
  const auto first = save(small.get(), derivativePath(pathPrefix, kSmallDerivativeShortSide), original);
  if (!first) return {};
  made.push_back(*first);
  if (std::min(original.width, original.height) >= kDerivativeShortSide) {
    const auto second = save(big.pixels.get(), derivativePath(pathPrefix, kDerivativeShortSide), original);
    if (!second) {
      ::unlink(first->path.c_str());
      return {};
    }
    made.push_back(*second);
  }
  return made;
}

}  // namespace tolvek::media
