#include "platform/media/jpeg_shrink.h"

#include <utility>

#include "library/cover_size.h"
#include "library/media_formats.h"
#include "platform/media/capped_source.h"
#include "platform/media/vips_picture.h"

namespace tolvek::media {
namespace {

// As for every thumbnail: what decodes is shown, also of a file cut short.
constexpr VipsFailOn kFailOn = VIPS_FAIL_ON_NONE;

ImagePtr loadJpeg(const ReadableFile& file, int shrink) {
  SourcePtr source = cappedSource(file, 0);
  if (!source) return nullptr;
  VipsImage* out = nullptr;
  if (vips_jpegload_source(source.get(), &out, "shrink", shrink, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", kFailOn,
                           nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(out);
}

std::int64_t shrunkSide(std::int64_t side, int shrink) { return (side + shrink - 1) / shrink; }

// `pixels` (as stored) resized to exactly `size`, with their orientation
// tag and profile kept for the upright copy.
ImagePtr resizedAsStored(VipsImage* pixels, PixelSize size) {
  VipsImage* out = nullptr;
  if (vips_thumbnail_image(pixels, &out, static_cast<int>(size.width), "height", static_cast<int>(size.height), "size",
                           VIPS_SIZE_FORCE, "no_rotate", TRUE, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(out);
}

}  // namespace

int jpegShrinkFor(PixelSize stored, PixelSize cover) {
  for (const int shrink : {8, 4, 2}) {
    if (shrunkSide(stored.width, shrink) >= cover.width && shrunkSide(stored.height, shrink) >= cover.height)
      return shrink;
  }
  return 1;
}

RenderedFile shrunkJpeg(const ReadableFile& file, PixelSize box) {
  const auto head = file.read(kSniffBytes);
  if (!head || !format_sniffing::isJpeg(*head)) return {};
  // The header alone first: the pixel limit and the sizes before any pixel.
  ImagePtr image = loadJpeg(file, 1);
  if (!image || !withinPixelLimit(image.get())) return {};
  const bool swap = vips_image_get_orientation_swap(image.get());
  const PixelSize stored{image->Xsize, image->Ysize};
  const PixelSize upright = swap ? PixelSize{stored.height, stored.width} : stored;
  const PixelSize cover = coverSize(upright, box);
  if (cover == upright) return {};
  const PixelSize coverAsStored = swap ? PixelSize{cover.height, cover.width} : cover;
  image = loadJpeg(file, jpegShrinkFor(stored, coverAsStored));
  if (!image) return {};
  const ImagePtr owned = withOwnProfile(image.get());
  if (!owned) return {};
  ImagePtr resized = resizedAsStored(owned.get(), coverAsStored);
  if (!resized) return {};
  // Turning reads out of order, which the sequential decode cannot: the
  // small picture is made in memory first.
  if (vips_image_get_orientation(resized.get()) != 1) {
    VipsImage* memory = vips_image_copy_memory(resized.get());
    if (memory == nullptr) {
      clearVipsError();
      return {};
    }
    resized.reset(memory);
  }
  ImagePtr pixels = uprightPixelsInMemory(resized.get());
  if (!pixels || pixels->Xsize != cover.width || pixels->Ysize != cover.height) return {};
  return {std::move(pixels), upright};
}

}  // namespace tolvek::media
