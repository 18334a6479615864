#include "platform/media/photo_metadata.h"

#include <exiv2/exiv2.hpp>

#include <array>
#include <mutex>
#include <string>

#include "platform/media/apple_maker_note.h"
#include "platform/media/capped_exiv_io.h"
#include "platform/media/capture_date.h"

namespace tolvek::media {
namespace {

// Where a picture's capture date is read, in order; the first plausible one
// wins. EXIF first: when the shutter opened, when the picture was digitized,
// when the file was last written, each with the offset written for it ...
struct ExifDateKeys {
  const char* dateTime;
  const char* offset;
};
constexpr std::array<ExifDateKeys, 3> kExifDates{{
    {"Exif.Photo.DateTimeOriginal", "Exif.Photo.OffsetTimeOriginal"},
    {"Exif.Photo.DateTimeDigitized", "Exif.Photo.OffsetTimeDigitized"},
    {"Exif.Image.DateTime", "Exif.Photo.OffsetTime"},
}};
// ... then XMP, for pictures whose EXIF was dropped or never written, and
// for sidecars.
constexpr std::array<const char*, 2> kXmpDates{"Xmp.exif.DateTimeOriginal", "Xmp.xmp.CreateDate"};

std::optional<std::string> exifText(const Exiv2::ExifData& exif, const char* key) {
  const auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end()) return std::nullopt;
  return found->toString();
}

std::optional<std::int64_t> exifDate(const Exiv2::ExifData& exif) {
  for (const ExifDateKeys& keys : kExifDates) {
    const auto dateTime = exifText(exif, keys.dateTime);
    if (!dateTime) continue;
    const auto offset = exifText(exif, keys.offset);
    if (const auto date =
            exifCaptureTime(*dateTime, offset ? std::optional<std::string_view>(*offset) : std::nullopt))
      return date;
  }
  return std::nullopt;
}

std::optional<std::int64_t> xmpDate(const Exiv2::XmpData& xmp) {
  for (const char* key : kXmpDates) {
    const auto found = xmp.findKey(Exiv2::XmpKey(key));
    if (found == xmp.end()) continue;
    if (const auto date = isoCaptureTime(found->toString(), Zoneless::local)) return date;
  }
  return std::nullopt;
}

bool rejected(const Exiv2::XmpData& xmp) {
  const auto found = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Rating"));
  if (found == xmp.end()) return false;
  const std::string text = found->toString();
  // "-1" as darktable, digiKam and Shotwell write it, "-1.0" as some others.
  return text.starts_with("-1") && text.find_first_not_of("0.", 2) == std::string::npos;
}

std::string contentIdentifier(const Exiv2::ExifData& exif) {
  const auto found = exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote"));
  if (found == exif.end() || found->size() == 0) return {};
  std::string bytes(found->size(), '\0');
  found->copy(reinterpret_cast<Exiv2::byte*>(bytes.data()), Exiv2::bigEndian);
  return appleContentIdentifier(bytes);
}

PhotoMetadata metadataOf(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
  PhotoMetadata metadata;
  metadata.captureDate = exifDate(exif);
  if (!metadata.captureDate) metadata.captureDate = xmpDate(xmp);
  metadata.rejected = rejected(xmp);
  metadata.contentIdentifier = contentIdentifier(exif);
  return metadata;
}

std::mutex xmpToolkitMutex;

void lockXmpToolkit(void* data, bool lock) {
  auto* mutex = static_cast<std::mutex*>(data);
  if (lock) {
    mutex->lock();
  } else {
    mutex->unlock();
  }
}

}  // namespace

void startExiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(nullptr);
    Exiv2::enableBMFF(true);
    Exiv2::XmpParser::initialize(lockXmpToolkit, &xmpToolkitMutex);
  });
}

std::optional<PhotoMetadata> readPhotoMetadata(const ReadableFile& file) {
  startExiv2();
  try {
    // exiv2 0.27 hands images over in std::auto_ptr, its only form of this call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Exiv2::BasicIo::AutoPtr io(new CappedExivIo(file, file.size()));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(std::move(io));
#pragma GCC diagnostic pop
    if (image.get() == nullptr) return std::nullopt;
    image->readMetadata();
    return metadataOf(image->exifData(), image->xmpData());
  } catch (const std::exception&) {
    // Exiv2::AnyError and what the standard library throws (a damaged
    // count asking for more memory than there is): no metadata.
    return std::nullopt;
  }
}

PhotoMetadata photoMetadataFromBlocks(std::string_view exif, std::string_view xmp) {
  startExiv2();
  Exiv2::ExifData exifData;
  Exiv2::XmpData xmpData;
  try {
    if (exif.starts_with(std::string_view("Exif\0\0", 6))) exif.remove_prefix(6);
    if (!exif.empty())
      Exiv2::ExifParser::decode(exifData, reinterpret_cast<const Exiv2::byte*>(exif.data()),
                                static_cast<std::uint32_t>(exif.size()));
  } catch (const std::exception&) {
    exifData.clear();
  }
  try {
    if (!xmp.empty() && Exiv2::XmpParser::decode(xmpData, std::string(xmp)) != 0) xmpData.clear();
    return metadataOf(exifData, xmpData);
  } catch (const std::exception&) {
    return {};
  }
}

std::optional<PhotoMetadata> sidecarMetadata(std::string_view packet) {
  startExiv2();
  Exiv2::XmpData xmp;
  try {
    if (Exiv2::XmpParser::decode(xmp, std::string(packet)) != 0) return std::nullopt;
    return metadataOf(Exiv2::ExifData(), xmp);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace tolvek::media
