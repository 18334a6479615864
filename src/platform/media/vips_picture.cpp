#include "platform/media/vips_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "library/media_formats.h"

namespace tolvek::media {
namespace {

class VipsBitmap final : public Bitmap {
 public:
  explicit VipsBitmap(ImagePtr pixels) : pixels_(std::move(pixels)) {}
  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const override {
    return encodeJpeg(pixels_.get(), quality, metadata);
  }

 private:
  ImagePtr pixels_;
};

}  // namespace

bool isPictureLoader(const char* loaderName) {
  return loaderName != nullptr && isPictureLoaderName(loaderName);
}

bool withinPixelLimit(const VipsImage* image) {
  const auto width = static_cast<std::int64_t>(image->Xsize);
  const auto height = static_cast<std::int64_t>(image->Ysize);
  return width > 0 && height > 0 && width * height <= kMaxPicturePixels;
}

int jpegQuality(double factor) {
  if (!std::isfinite(factor)) factor = 0.8;
  return std::clamp(static_cast<int>(std::lround(factor * 100.0)), 1, 100);
}

ImagePtr withOwnProfile(VipsImage* image) {
  VipsImage* copy = nullptr;
  if (vips_copy(image, &copy, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  ImagePtr owned(copy);
  const void* profile = nullptr;
  std::size_t length = 0;
  if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) != 0 &&
      vips_image_get_blob(image, VIPS_META_ICC_NAME, &profile, &length) == 0 && profile != nullptr && length > 0) {
    vips_image_set_blob_copy(owned.get(), VIPS_META_ICC_NAME, profile, length);
  } else {
    clearVipsError();
    vips_image_remove(owned.get(), VIPS_META_ICC_NAME);
  }
  return owned;
}

ImagePtr inSrgb(VipsImage* pixels) {
  VipsImage* step = nullptr;
  ImagePtr converted;
  // The embedded profile in, sRGB out, 8 bits. A profile that does not fit
  // the pixels (another colour space) leaves them as they are.
  if (vips_image_get_typeof(pixels, VIPS_META_ICC_NAME) != 0) {
    if (vips_icc_transform(pixels, &step, "srgb", "embedded", TRUE, "intent", VIPS_INTENT_RELATIVE, nullptr) == 0)
      converted.reset(step);
    clearVipsError();
  }
  if (vips_copy(converted ? converted.get() : pixels, &step, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  ImagePtr bare(step);
  vips_image_remove(bare.get(), VIPS_META_ICC_NAME);
  return bare;
}

ImagePtr uprightPixels(VipsImage* source) {
  VipsImage* step = nullptr;
  if (vips_autorot(source, &step, nullptr) != 0) {
    clearVipsError();
    return nullptr;
  }
  ImagePtr image(step);
  if (vips_image_hasalpha(image.get())) {
    VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
    const int failed = vips_flatten(image.get(), &step, "background", white, nullptr);
    vips_area_unref(VIPS_AREA(white));
    if (failed != 0) {
      clearVipsError();
      return nullptr;
    }
    image.reset(step);
  }
  const VipsInterpretation kind = image->Type;
  const bool grey = kind == VIPS_INTERPRETATION_B_W || kind == VIPS_INTERPRETATION_GREY16;
  if (image->BandFmt != VIPS_FORMAT_UCHAR || (kind != VIPS_INTERPRETATION_sRGB && kind != VIPS_INTERPRETATION_B_W)) {
    if (vips_colourspace(image.get(), &step, grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB,
                         nullptr) != 0) {
      clearVipsError();
      return nullptr;
    }
    image.reset(step);
    if (image->BandFmt != VIPS_FORMAT_UCHAR) {
      if (vips_cast_uchar(image.get(), &step, nullptr) != 0) {
        clearVipsError();
        return nullptr;
      }
      image.reset(step);
    }
  }
  return image;
}

ImagePtr uprightPixelsInMemory(VipsImage* source) {
  const bool inMemory = source->dtype == VIPS_IMAGE_SETBUF || source->dtype == VIPS_IMAGE_SETBUF_FOREIGN;
  const bool ready = source->BandFmt == VIPS_FORMAT_UCHAR && !vips_image_hasalpha(source) &&
                     (source->Type == VIPS_INTERPRETATION_sRGB || source->Type == VIPS_INTERPRETATION_B_W) &&
                     vips_image_get_orientation(source) == 1;
  if (inMemory && ready) {
    // Already what is asked for (a rendered picture): share it.
    g_object_ref(source);
    return ImagePtr(source);
  }
  ImagePtr image = uprightPixels(source);
  if (!image) return nullptr;
  VipsImage* memory = vips_image_copy_memory(image.get());
  if (memory == nullptr) {
    clearVipsError();
    return nullptr;
  }
  return ImagePtr(memory);
}

std::optional<std::string> encodeJpeg(VipsImage* pixels, double factor, JpegMetadata metadata, bool optimizeCoding) {
  if (pixels == nullptr) return std::nullopt;
  const bool strip = metadata == JpegMetadata::none;
  ImagePtr image;
  if (strip) {
    // Without a profile the numbers are read as sRGB, so they are made sRGB.
    image = inSrgb(pixels);
    if (!image) return std::nullopt;
  } else {
    VipsImage* copy = nullptr;
    if (vips_copy(pixels, &copy, nullptr) != 0) {
      clearVipsError();
      return std::nullopt;
    }
    image.reset(copy);
    // The pixels are upright, so the EXIF orientation written must say so.
    vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 1);
  }
  void* buffer = nullptr;
  size_t length = 0;
  if (vips_jpegsave_buffer(image.get(), &buffer, &length, "Q", jpegQuality(factor), "strip", strip ? TRUE : FALSE,
                           "optimize_coding", optimizeCoding ? TRUE : FALSE, nullptr) != 0) {
    clearVipsError();
    return std::nullopt;
  }
  std::string bytes(static_cast<const char*>(buffer), length);
  g_free(buffer);
  return bytes;
}

VipsPicture::VipsPicture(ImagePtr image, std::shared_ptr<const std::string> bytes)
    : image_(std::move(image)), bytes_(std::move(bytes)) {}

PixelSize VipsPicture::size() const {
  const bool swap = vips_image_get_orientation_swap(image_.get());
  const std::int64_t width = image_->Xsize;
  const std::int64_t height = image_->Ysize;
  return swap ? PixelSize{height, width} : PixelSize{width, height};
}

std::unique_ptr<Bitmap> VipsPicture::bitmap() const {
  // An upright picture is encoded straight from its decoder, without a
  // full-size copy in memory; turning one needs the whole picture at hand.
  const bool upright = vips_image_get_orientation(image_.get()) == 1;
  ImagePtr pixels = upright ? uprightPixels(image_.get()) : uprightPixelsInMemory(image_.get());
  if (!pixels) return nullptr;
  return std::make_unique<VipsBitmap>(std::move(pixels));
}

std::unique_ptr<Picture> VipsPictureDecoder::decode(std::string_view data) {
  if (data.empty()) return nullptr;
  // libvips reads from the buffer lazily; the picture keeps its own copy.
  auto bytes = std::make_shared<const std::string>(data);
  const char* loader = vips_foreign_find_load_buffer(bytes->data(), bytes->size());
  if (!isPictureLoader(loader)) {
    clearVipsError();
    return nullptr;
  }
  VipsImage* header =
      vips_image_new_from_buffer(bytes->data(), bytes->size(), "", "fail_on", VIPS_FAIL_ON_WARNING, nullptr);
  if (header == nullptr) {
    clearVipsError();
    return nullptr;
  }
  const ImagePtr opened(header);
  if (!withinPixelLimit(opened.get())) return nullptr;
  ImagePtr image = withOwnProfile(opened.get());
  if (!image) return nullptr;
  return std::make_unique<VipsPicture>(std::move(image), std::move(bytes));
}

}  // namespace tolvek::media
