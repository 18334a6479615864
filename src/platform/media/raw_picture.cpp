#include "platform/media/raw_picture.h"

#include <libraw/libraw.h>

#include <memory>
#include <new>
#include <string_view>

#include "library/cover_size.h"
#include "library/media_formats.h"
#include "platform/media/capped_source.h"
#include "platform/media/jpeg_shrink.h"
#include "platform/media/raw_stream.h"
#include "platform/media/vips_picture.h"

namespace tolvek::media {
namespace {

// LibRaw's default handlers print to stderr; its failures are read from the
// calls' results instead.
void ignoreMemoryError(void*, const char*, const char*) {}
void ignoreDataError(void*, const char*, const int) {}

// One LibRaw reading one file: its own stream over the open file.
struct RawReader {
  CappedRawStream stream;
  LibRaw raw;

  RawReader(const ReadableFile& file, std::uint64_t maxBytes) : stream(file.fd(), capFor(file, maxBytes)), raw(0) {
    raw.set_memerror_handler(ignoreMemoryError, nullptr);
    raw.set_dataerror_handler(ignoreDataError, nullptr);
    raw.imgdata.params.max_raw_memory_mb = kMaxRawMemoryMb;
  }
};

RawOutcome openRaw(RawReader& reader) {
  const int opened = reader.raw.open_datastream(&reader.stream);
  if (opened == LIBRAW_FILE_UNSUPPORTED) {
    // Only a TIFF can be something else than the RAW it looked like.
    char magic[4] = {};
    reader.stream.seek(0, SEEK_SET);
    const bool tiff = reader.stream.read(magic, 1, 4) == 4 && format_sniffing::isTiff(std::string_view(magic, 4));
    return tiff ? RawOutcome::notRaw : RawOutcome::unreadable;
  }
  return opened == LIBRAW_SUCCESS ? RawOutcome::read : RawOutcome::unreadable;
}

// LibRaw's flip (dcraw's numbering) as an EXIF orientation.
int orientationOf(int flip) {
  switch (flip) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 3;
    case 4: return 5;
    case 5: return 8;
    case 6: return 6;
    case 7: return 7;
    default: return 1;
  }
}

bool swapsSides(int flip) { return (flip & 4) != 0; }

PixelSize uprightSize(const libraw_data_t& data) {
  const PixelSize stored{data.sizes.width, data.sizes.height};
  return swapsSides(data.sizes.flip) ? PixelSize{stored.height, stored.width} : stored;
}

// The embedded preview, when LibRaw found one within the limits (its format
// is known once it is unpacked).
bool hasUsablePreview(RawReader& reader) {
  const libraw_thumbnail_t& thumb = reader.raw.imgdata.thumbnail;
  return thumb.twidth > 0 && thumb.theight > 0 && thumb.tlength > 0 && thumb.tlength <= kMaxPreviewBytes &&
         thumb.tlength <= static_cast<std::uint64_t>(reader.stream.size()) &&
         static_cast<std::int64_t>(thumb.twidth) * thumb.theight <= kMaxPicturePixels;
}

// Unpacks the preview: true when it is one that can be shown (JPEG or an
// 8-bit bitmap) and the file holds it.
bool unpackPreview(RawReader& reader) {
  if (!hasUsablePreview(reader) || reader.raw.unpack_thumb() != LIBRAW_SUCCESS) return false;
  const LibRaw_thumbnail_formats format = reader.raw.imgdata.thumbnail.tformat;
  return format == LIBRAW_THUMBNAIL_JPEG || format == LIBRAW_THUMBNAIL_BITMAP;
}

bool developable(const libraw_data_t& data) {
  const std::int64_t pixels = static_cast<std::int64_t>(data.sizes.raw_width) * data.sizes.raw_height;
  return pixels > 0 && pixels <= kMaxRawPixels && data.sizes.width > 0 && data.sizes.height > 0;
}

// Unpacks the sensor data: only a sensor within the limits, and only data
// the file holds whole (a file cut short reads past its end).
bool unpackRaw(RawReader& reader) {
  return developable(reader.raw.imgdata) && reader.raw.unpack() == LIBRAW_SUCCESS && reader.raw.error_count() == 0;
}

// Pixels of a libvips image upright by `orientation`, in memory.
ImagePtr orientedPixels(VipsImage* image, int orientation) {
  VipsImage* copy = nullptr;
  if (vips_copy(image, &copy, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  const ImagePtr turned(copy);
  vips_image_set_int(turned.get(), VIPS_META_ORIENTATION, orientation);
  const ImagePtr owned = withOwnProfile(turned.get());
  return owned ? uprightPixelsInMemory(owned.get()) : nullptr;
}

// The preview of `size` pixels shrunk to `stored` (as stored, not turned):
// a JPEG on load by the largest DCT scale that still covers it, then resized.
ImagePtr shrunkPreview(const libraw_processed_image_t& preview, std::string_view loader, PixelSize stored,
                       PixelSize size) {
  VipsImage* out = nullptr;
  auto* data = const_cast<unsigned char*>(preview.data);
  if (loader != "jpegload_buffer") {
    if (vips_thumbnail_buffer(data, preview.data_size, &out, static_cast<int>(stored.width), "height",
                              static_cast<int>(stored.height), "size", VIPS_SIZE_FORCE, "no_rotate", TRUE, "fail_on",
                              VIPS_FAIL_ON_NONE, nullptr) != 0) {
      clearVipsError();
      return nullptr;
    }
    return ImagePtr(out);
  }
  if (vips_jpegload_buffer(data, preview.data_size, &out, "shrink", jpegShrinkFor(size, stored), "fail_on",
                           VIPS_FAIL_ON_NONE, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  const ImagePtr loaded(out);
  if (vips_thumbnail_image(loaded.get(), &out, static_cast<int>(stored.width), "height",
                           static_cast<int>(stored.height), "size", VIPS_SIZE_FORCE, "no_rotate", TRUE,
                           nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(out);
}

// A JPEG preview shrunk to `cover` (upright), turned by `orientation`.
ImagePtr jpegPreview(const libraw_processed_image_t& preview, PixelSize cover, int orientation) {
  const ImagePtr header(vips_image_new_from_buffer(preview.data, preview.data_size, "", nullptr));
  const char* loader = nullptr;
  if (!header || vips_image_get_string(header.get(), VIPS_META_LOADER, &loader) != 0 || !isPictureLoader(loader) ||
      !withinPixelLimit(header.get())) {
    clearVipsError();
    return nullptr;
  }
  const PixelSize stored = orientation >= 5 ? PixelSize{cover.height, cover.width} : cover;
  if (stored.width > header->Xsize || stored.height > header->Ysize) return nullptr;
  const ImagePtr shrunk = shrunkPreview(preview, loader, stored, PixelSize{header->Xsize, header->Ysize});
  return shrunk ? orientedPixels(shrunk.get(), orientation) : nullptr;
}

// An 8-bit bitmap preview, turned, then resized to `cover`.
ImagePtr bitmapPreview(const libraw_processed_image_t& preview, PixelSize cover, int orientation) {
  const std::size_t bytes = static_cast<std::size_t>(preview.width) * preview.height * preview.colors;
  if (preview.bits != 8 || (preview.colors != 3 && preview.colors != 1) || bytes > preview.data_size) return nullptr;
  ImagePtr image(vips_image_new_from_memory_copy(preview.data, bytes, preview.width, preview.height, preview.colors,
                                                 VIPS_FORMAT_UCHAR));
  if (!image) {
    clearVipsError();
    return nullptr;
  }
  image->Type = preview.colors == 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W;
  const ImagePtr upright = orientedPixels(image.get(), orientation);
  return upright ? resizedPixels(upright.get(), cover) : nullptr;
}

struct ProcessedFree {
  void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedPtr = std::unique_ptr<libraw_processed_image_t, ProcessedFree>;

// The preview resized to `cover`, when it covers it.
ImagePtr fromPreview(RawReader& reader, PixelSize cover) {
  if (!hasUsablePreview(reader)) return nullptr;
  const libraw_data_t& data = reader.raw.imgdata;
  const bool swap = swapsSides(data.sizes.flip);
  const PixelSize preview = swap ? PixelSize{data.thumbnail.theight, data.thumbnail.twidth}
                                 : PixelSize{data.thumbnail.twidth, data.thumbnail.theight};
  if (preview.width < cover.width || preview.height < cover.height || !unpackPreview(reader)) return nullptr;
  int error = 0;
  const ProcessedPtr made(reader.raw.dcraw_make_mem_thumb(&error));
  if (!made) return nullptr;
  const int orientation = orientationOf(data.sizes.flip);
  if (made->type == LIBRAW_IMAGE_JPEG) return jpegPreview(*made, cover, orientation);
  return bitmapPreview(*made, cover, orientation);
}

// A half-size development, upright (LibRaw turns it), resized to cover `box`
// as `cover` asks, or as its own size gives when it is smaller.
ImagePtr developed(RawReader& reader, PixelSize cover, PixelSize box) {
  if (!unpackRaw(reader)) return nullptr;
  libraw_output_params_t& params = reader.raw.imgdata.params;
  params.half_size = 1;
  params.use_camera_wb = 1;
  params.output_bps = 8;
  if (reader.raw.dcraw_process() != LIBRAW_SUCCESS) return nullptr;
  int error = 0;
  const ProcessedPtr made(reader.raw.dcraw_make_mem_image(&error));
  if (!made || made->type != LIBRAW_IMAGE_BITMAP) return nullptr;
  reader.raw.recycle();
  const ImagePtr image = bitmapPreview(*made, PixelSize{made->width, made->height}, 1);
  if (!image) return nullptr;
  const PixelSize own{image->Xsize, image->Ysize};
  return resizedPixels(image.get(), cover.width <= own.width && cover.height <= own.height ? cover
                                                                                          : coverSize(own, box));
}

}  // namespace

RawProbe probeCameraRaw(const std::string& path, std::string_view typeIdentifier) {
  auto file = ReadableFile::open(path);
  if (!file) return {};
  try {
    auto reader = std::make_unique<RawReader>(*file, 0);
    const RawOutcome opened = openRaw(*reader);
    if (opened != RawOutcome::read) return {opened, std::nullopt};
    // Taken in when there is something to show: a preview the file holds, or
    // sensor data it holds whole.
    if (!unpackPreview(*reader) && !unpackRaw(*reader)) return {};
    MediaProbe probe;
    probe.mediaType = MediaType::image;
    probe.uniformTypeIdentifier = std::string(typeIdentifier);
    return {RawOutcome::read, std::move(probe)};
  } catch (...) {
    return {};
  }
}

RawRender renderCameraRaw(const ReadableFile& file, std::uint64_t maxBytes, PixelSize box,
                          std::optional<PixelSize> original) {
  try {
    auto reader = std::make_unique<RawReader>(file, maxBytes);
    const RawOutcome opened = openRaw(*reader);
    if (opened != RawOutcome::read) return {opened, {}};
    const PixelSize upright = uprightSize(reader->raw.imgdata);
    const PixelSize cover = coverFor(upright, box, original);
    ImagePtr pixels = fromPreview(*reader, cover);
    if (!pixels) pixels = developed(*reader, cover, box);
    if (!pixels) return {};
    return {RawOutcome::read, {std::move(pixels), upright}};
  } catch (...) {
    return {};
  }
}

}  // namespace tolvek::media
