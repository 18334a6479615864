#include "platform/media/file_render.h"

#include "platform/media/capped_source.h"
#include "library/cover_size.h"
#include "platform/media/video_frame.h"
#include "platform/media/vips_picture.h"
#include "library/photo_types.h"

namespace tolvek::media {
namespace {

// vips_thumbnail fits inside width x height; passing only the side that
// decides the covering scale makes it produce exactly the covering size.
constexpr int kUnbounded = 10'000'000;

struct ThumbnailBox {
  int width;
  int height;
};

ThumbnailBox boxFor(PixelSize upright, PixelSize cover) {
  if (cover.width == upright.width && cover.height == upright.height)
    return {static_cast<int>(upright.width), static_cast<int>(upright.height)};
  // The side whose scale is the larger one decides.
  const double byWidth = static_cast<double>(cover.width) / static_cast<double>(upright.width);
  const double byHeight = static_cast<double>(cover.height) / static_cast<double>(upright.height);
  if (byWidth >= byHeight) return {static_cast<int>(cover.width), kUnbounded};
  return {kUnbounded, static_cast<int>(cover.height)};
}

// Thumbnails and derivatives show what decodes: a picture damaged at its end
// (a truncated JPEG) renders with the part it has, as every viewer shows it.
// A file whose header does not decode still renders nothing.
constexpr VipsFailOn kRenderFailOn = VIPS_FAIL_ON_NONE;

// Upright pixels in memory of an image whose pixels are still to be read,
// with a profile of its own (the loader's may be gone once they are).
ImagePtr pixelsOf(VipsImage* image) {
  const ImagePtr owned = withOwnProfile(image);
  return owned ? uprightPixelsInMemory(owned.get()) : nullptr;
}

ImagePtr renderPicture(const ReadableFile& file, std::uint64_t maxBytes, PixelSize box) {
  // One open reads the header (no pixels yet): the loader, the pixel limit
  // and the upright size are checked before anything is decoded.
  SourcePtr source = cappedSource(file, maxBytes);
  if (!source) return nullptr;
  ImagePtr image(vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                            kRenderFailOn, nullptr));
  if (!image) {
    clearVipsError();
    return nullptr;
  }
  const char* loader = nullptr;
  if (vips_image_get_string(image.get(), VIPS_META_LOADER, &loader) != 0 || !isPictureLoader(loader)) {
    clearVipsError();
    return nullptr;
  }
  if (!withinPixelLimit(image.get())) return nullptr;
  const bool swap = vips_image_get_orientation_swap(image.get());
  const PixelSize upright = swap ? PixelSize{image->Ysize, image->Xsize} : PixelSize{image->Xsize, image->Ysize};
  const PixelSize cover = coverSize(upright, box);
  // Nothing to shrink (small pictures, derivatives of the asked size):
  // decode as it is. Turning a picture reads it out of order, which a
  // sequential read cannot do, so turned pictures are opened again for
  // random access.
  if (cover == upright) {
    if (vips_image_get_orientation(image.get()) != 1) {
      image.reset();
      source = cappedSource(file, maxBytes);
      if (!source) return nullptr;
      image.reset(vips_image_new_from_source(source.get(), "", "fail_on", kRenderFailOn, nullptr));
      if (!image) {
        clearVipsError();
        return nullptr;
      }
    }
    return pixelsOf(image.get());
  }
  image.reset();
  source = cappedSource(file, maxBytes);
  if (!source) return nullptr;
  const ThumbnailBox target = boxFor(upright, cover);
  VipsImage* out = nullptr;
  if (vips_thumbnail_source(source.get(), &out, target.width, "height", target.height, "size", VIPS_SIZE_DOWN,
                            "fail_on", kRenderFailOn, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  const ImagePtr thumbnail(out);
  return pixelsOf(thumbnail.get());
}

}  // namespace

ImagePtr coverPixels(VipsImage* pixels, PixelSize box) {
  const PixelSize source{pixels->Xsize, pixels->Ysize};
  const PixelSize cover = coverSize(source, box);
  if (cover == source) {
    g_object_ref(pixels);
    return ImagePtr(pixels);
  }
  const ThumbnailBox target = boxFor(source, cover);
  VipsImage* out = nullptr;
  if (vips_thumbnail_image(pixels, &out, target.width, "height", target.height, "size", VIPS_SIZE_DOWN, nullptr) !=
      0) {
    clearVipsError();
    return nullptr;
  }
  ImagePtr resized(out);
  VipsImage* memory = vips_image_copy_memory(resized.get());
  if (memory == nullptr) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(memory);
}

ImagePtr renderFileToPixels(const std::string& path, std::uint64_t maxBytes, MediaType mediaType, PixelSize box) {
  if (mediaType == MediaType::audio) return nullptr;
  // Opened once, without blocking; only a regular file is read, never past
  // its size at this moment (or `maxBytes`).
  auto file = ReadableFile::open(path);
  if (!file) return nullptr;
  // Shorter than recorded: damaged since it was written; better none than a
  // part (the caller has the original to fall back on).
  if (maxBytes != 0 && file->size() < maxBytes) return nullptr;
  if (mediaType == MediaType::video) {
    const ImagePtr frame = firstVideoFrame(*file, maxBytes);
    if (!frame) return nullptr;
    return coverPixels(frame.get(), box);
  }
  return renderPicture(*file, maxBytes, box);
}

}  // namespace tolvek::media
