#include "platform/media/file_render.h"

#include <algorithm>

#include "platform/media/capped_source.h"
#include "platform/media/raw_picture.h"
#include "library/media_formats.h"
#include "library/cover_size.h"
#include "platform/media/video_frame.h"
#include "platform/media/vips_picture.h"
#include "library/photo_types.h"

namespace tolvek::media {

// (file_render.h) The size `box` asks of a file of `upright` pixels: when the file is a
// smaller copy of a picture of `original` pixels, the size that picture
// gives, so that one request has one answer whichever copy renders it
// (unless the copy is too small to give it).
PixelSize coverFor(PixelSize upright, PixelSize box, std::optional<PixelSize> original) {
  if (original && original->width > 0 && original->height > 0) {
    const PixelSize exact = coverSize(*original, box);
    if (exact.width <= upright.width && exact.height <= upright.height) return exact;
  }
  return coverSize(upright, box);
}

namespace {

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

RenderedFile renderPicture(const ReadableFile& file, std::uint64_t maxBytes, PixelSize box,
                           std::optional<PixelSize> original) {
  // One open reads the header (no pixels yet): the loader, the pixel limit
  // and the upright size are checked before anything is decoded.
  SourcePtr source = cappedSource(file, maxBytes);
  if (!source) return {};
  ImagePtr image(vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                            kRenderFailOn, nullptr));
  if (!image) {
    clearVipsError();
    return {};
  }
  const char* loader = nullptr;
  if (vips_image_get_string(image.get(), VIPS_META_LOADER, &loader) != 0 || !isPictureLoader(loader)) {
    clearVipsError();
    return {};
  }
  if (!withinPixelLimit(image.get())) return {};
  const bool swap = vips_image_get_orientation_swap(image.get());
  const PixelSize upright = swap ? PixelSize{image->Ysize, image->Xsize} : PixelSize{image->Xsize, image->Ysize};
  const PixelSize cover = coverFor(upright, box, original);
  // Nothing to shrink (small pictures, derivatives of the asked size):
  // decode as it is. Turning a picture reads it out of order, which a
  // sequential read cannot do, so turned pictures are opened again for
  // random access.
  if (cover == upright) {
    if (vips_image_get_orientation(image.get()) != 1) {
      image.reset();
      source = cappedSource(file, maxBytes);
      if (!source) return {};
      image.reset(vips_image_new_from_source(source.get(), "", "fail_on", kRenderFailOn, nullptr));
      if (!image) {
        clearVipsError();
        return {};
      }
    }
    return {pixelsOf(image.get()), upright};
  }
  image.reset();
  source = cappedSource(file, maxBytes);
  if (!source) return {};
  // Both sides asked for: exactly the covering size, whatever the rounding
  // of the other side's scale would give.
  VipsImage* out = nullptr;
  if (vips_thumbnail_source(source.get(), &out, static_cast<int>(cover.width), "height", static_cast<int>(cover.height),
                            "size", VIPS_SIZE_FORCE, "fail_on", kRenderFailOn, nullptr) != 0) {
    clearVipsError();
    return {};
  }
  const ImagePtr thumbnail(out);
  return {pixelsOf(thumbnail.get()), upright};
}

}  // namespace

ImagePtr resizedPixels(VipsImage* pixels, PixelSize size) {
  if (size == PixelSize{pixels->Xsize, pixels->Ysize}) {
    g_object_ref(pixels);
    return ImagePtr(pixels);
  }
  if (size.width <= 0 || size.height <= 0 || size.width > pixels->Xsize || size.height > pixels->Ysize) return nullptr;
  VipsImage* out = nullptr;
  if (vips_thumbnail_image(pixels, &out, static_cast<int>(size.width), "height", static_cast<int>(size.height), "size",
                           VIPS_SIZE_FORCE, "no_rotate", TRUE, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  const ImagePtr resized(out);
  VipsImage* memory = vips_image_copy_memory(resized.get());
  if (memory == nullptr) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(memory);
}

ImagePtr coverPixels(VipsImage* pixels, PixelSize box) {
  return resizedPixels(pixels, coverSize(PixelSize{pixels->Xsize, pixels->Ysize}, box));
}

RenderedFile renderFileToPixels(const std::string& path, std::uint64_t maxBytes, MediaType mediaType, PixelSize box,
                                std::optional<PixelSize> original) {
  if (mediaType == MediaType::audio) return {};
  // Opened once, without blocking; only a regular file is read, never past
  // its size at this moment (or `maxBytes`).
  auto file = ReadableFile::open(path);
  if (!file) return {};
  // Shorter than recorded: damaged since it was written; better none than a
  // part (the caller has the original to fall back on).
  if (maxBytes != 0 && file->size() < maxBytes) return {};
  if (mediaType == MediaType::video) {
    const ImagePtr frame = firstVideoFrame(*file, maxBytes);
    if (!frame) return {};
    const PixelSize upright{frame->Xsize, frame->Ysize};
    return {resizedPixels(frame.get(), coverFor(upright, box, original)), upright};
  }
  // A camera's RAW is read with LibRaw; a TIFF LibRaw takes for no RAW (it
  // only looked like one) is a picture like any other.
  const auto head = file->read(std::min<std::uint64_t>(kSniffBytes, capFor(*file, maxBytes)));
  if (head && sniffMediaFormat(*head) != nullptr && sniffMediaFormat(*head)->family == FormatFamily::cameraRaw) {
    RawRender raw = renderCameraRaw(*file, maxBytes, box, original);
    if (raw.outcome != RawOutcome::notRaw) return std::move(raw.rendered);
  }
  return renderPicture(*file, maxBytes, box, original);
}

}  // namespace tolvek::media
