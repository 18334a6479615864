#include "platform/media/file_render.h"

#include "platform/media/cover_size.h"
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

ImagePtr renderPicture(const std::string& path, PixelSize box) {
  // One open reads the header (no pixels yet): the loader, the pixel limit
  // and the upright size are checked before anything is decoded.
  ImagePtr image(vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                          VIPS_FAIL_ON_WARNING, nullptr));
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
      image.reset(vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_WARNING, nullptr));
      if (!image) {
        clearVipsError();
        return nullptr;
      }
    }
    return uprightPixelsInMemory(image.get());
  }
  image.reset();
  const ThumbnailBox target = boxFor(upright, cover);
  VipsImage* out = nullptr;
  if (vips_thumbnail(path.c_str(), &out, target.width, "height", target.height, "size", VIPS_SIZE_DOWN, "fail_on",
                     VIPS_FAIL_ON_WARNING, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  ImagePtr thumbnail(out);
  return uprightPixelsInMemory(thumbnail.get());
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

ImagePtr renderFileToPixels(const std::string& path, std::int64_t mediaType, PixelSize box) {
  if (mediaType == kMediaAudio) return nullptr;
  if (mediaType == kMediaVideo) {
    const ImagePtr frame = firstVideoFrame(path);
    if (!frame) return nullptr;
    return coverPixels(frame.get(), box);
  }
  return renderPicture(path, box);
}

}  // namespace tolvek::media
