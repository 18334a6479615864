#include "platform/media/media_probe.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "library/media_formats.h"
#include "platform/media/av_input.h"
#include "platform/media/capture_date.h"
#include "platform/media/content_kind.h"
#include "platform/media/vips_picture.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {
namespace {

constexpr std::size_t kHeadSize = 512;

// The first bytes of a regular file (a FIFO or device is refused at once).
std::optional<std::string> readHead(const std::string& path) {
  auto file = ReadableFile::open(path);
  if (!file) return std::nullopt;
  auto head = file->read(kHeadSize);
  if (!head) return std::nullopt;
  return std::move(head).value();
}

// The text of a libvips metadata string such as
// "2022:02:16 12:55:41 (2022:02:16 12:55:41, ASCII, 20 components, 20 bytes)".
std::optional<std::string> exifText(VipsImage* image, const char* field) {
  if (vips_image_get_typeof(image, field) == 0) return std::nullopt;
  const char* value = nullptr;
  if (vips_image_get_string(image, field, &value) != 0 || value == nullptr) {
    clearVipsError();
    return std::nullopt;
  }
  std::string text(value);
  if (const auto cut = text.find(" ("); cut != std::string::npos) text.resize(cut);
  return text;
}

// Where a picture's capture date is read, in order; the first plausible one
// wins. EXIF first: when the shutter opened, when the picture was digitized,
// when the file was last written (each with the offset written for it, libvips
// field names) ...
struct ExifDateField {
  const char* dateTime;
  const char* offset;
};
constexpr std::array<ExifDateField, 3> kExifDates{{
    {"exif-ifd2-DateTimeOriginal", "exif-ifd2-OffsetTimeOriginal"},
    {"exif-ifd2-DateTimeDigitized", "exif-ifd2-OffsetTimeDigitized"},
    {"exif-ifd0-DateTime", "exif-ifd2-OffsetTime"},
}};
// ... then the XMP packet, for pictures whose EXIF was dropped or never written.
constexpr std::array<std::string_view, 2> kXmpDates{"exif:DateTimeOriginal", "xmp:CreateDate"};

std::optional<std::int64_t> pictureDate(VipsImage* image) {
  for (const ExifDateField& field : kExifDates) {
    const auto dateTime = exifText(image, field.dateTime);
    if (!dateTime) continue;
    const auto offset = exifText(image, field.offset);
    if (const auto date = exifCaptureTime(*dateTime, offset ? std::optional<std::string_view>(*offset) : std::nullopt))
      return date;
  }
  if (vips_image_get_typeof(image, VIPS_META_XMP_NAME) == 0) return std::nullopt;
  const void* data = nullptr;
  std::size_t length = 0;
  if (vips_image_get_blob(image, VIPS_META_XMP_NAME, &data, &length) != 0 || data == nullptr) {
    clearVipsError();
    return std::nullopt;
  }
  const std::string_view packet(static_cast<const char*>(data), length);
  for (const std::string_view property : kXmpDates) {
    if (const auto date = xmpCaptureTime(packet, property)) return date;
  }
  return std::nullopt;
}

// The first rows a picture decodes to: enough to tell a file with pixel
// data from one with a header alone, or data no decoder can start on.
constexpr int kFirstRows = 8;

// True when the first rows of the picture decode, on this thread (so a
// decoder's failure is this call's), to the policy `failOn`. Cheap: a
// sequential read stops after the first strip, and a HEIF file with a
// thumbnail decodes that.
bool firstRowsDecode(const std::string& path, const char* loader, VipsFailOn failOn, bool* interlaced) {
  const bool heif = std::string_view(loader).starts_with(kHeifLoader);
  ImagePtr image(heif ? vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", failOn,
                                                 "thumbnail", TRUE, nullptr)
                      : vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", failOn,
                                                 nullptr));
  if (!image) {
    clearVipsError();
    return false;
  }
  int flag = 0;
  if (interlaced != nullptr && vips_image_get_typeof(image.get(), "interlaced") != 0 &&
      vips_image_get_int(image.get(), "interlaced", &flag) == 0)
    *interlaced = flag != 0;
  VipsRegion* region = vips_region_new(image.get());
  if (region == nullptr) {
    clearVipsError();
    return false;
  }
  const VipsRect rows{0, 0, image->Xsize, std::min(image->Ysize, kFirstRows)};
  const bool decoded = vips_region_prepare(region, &rows) == 0;
  g_object_unref(region);
  clearVipsError();
  return decoded;
}

// True when some pixel data of the picture decodes: its first rows decode
// from data the file holds. Missing data fails them (a file cut after its
// header has no pixel; libjpeg would fill it with grey); damaged data does
// not (it decodes to something, as viewers show it), nor does anything after
// them: a picture cut in its middle decodes in part and is one. An
// interlaced picture (a progressive JPEG, an Adam7 PNG) is read whole before
// its first row, and cut anywhere still shows its first passes: for it, a
// decoder that starts on the data is enough.
bool somePixelDataDecodes(const std::string& path, const char* loader) {
  bool interlaced = false;
  if (firstRowsDecode(path, loader, VIPS_FAIL_ON_TRUNCATED, &interlaced)) return true;
  return interlaced && firstRowsDecode(path, loader, VIPS_FAIL_ON_NONE, nullptr);
}

std::optional<MediaProbe> probePicture(const std::string& path, const std::string& typeIdentifier) {
  const char* loader = vips_foreign_find_load(path.c_str());
  if (!isPictureLoader(loader)) {
    clearVipsError();
    return std::nullopt;
  }
  // The header first: the pixel limit is checked before anything is decoded.
  ImagePtr image(vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_WARNING, nullptr));
  if (!image) {
    clearVipsError();
    return std::nullopt;
  }
  if (!withinPixelLimit(image.get()) || !somePixelDataDecodes(path, loader)) return std::nullopt;
  MediaProbe probe;
  probe.mediaType = MediaType::image;
  probe.uniformTypeIdentifier = typeIdentifier;
  probe.creationDate = pictureDate(image.get());
  return probe;
}

std::optional<std::int64_t> containerDate(AVFormatContext* context) {
  // Apple's tag keeps the local offset; the generic one is UTC.
  for (const char* key : {"com.apple.quicktime.creationdate", "creation_time"}) {
    if (const AVDictionaryEntry* entry = av_dict_get(context->metadata, key, nullptr, 0)) {
      if (const auto date = isoCaptureTime(entry->value, Zoneless::utc)) return date;
    }
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    if (const AVDictionaryEntry* entry = av_dict_get(context->streams[i]->metadata, "creation_time", nullptr, 0)) {
      if (const auto date = isoCaptureTime(entry->value, Zoneless::utc)) return date;
    }
  }
  return std::nullopt;
}

// What pairs a Live Photo's video with its still: Apple's content
// identifier (from the movie's metadata) and the container's length.
void readPairingFacts(AVFormatContext* context, MediaProbe& probe) {
  if (const AVDictionaryEntry* entry =
          av_dict_get(context->metadata, "com.apple.quicktime.content.identifier", nullptr, 0)) {
    probe.contentIdentifier = entry->value;
  }
  if (context->duration != AV_NOPTS_VALUE && context->duration >= 0) {
    probe.durationSeconds = static_cast<double>(context->duration) / AV_TIME_BASE;
  }
}

std::optional<MediaProbe> probeAudioVideo(const std::string& path, const SniffResult& sniffed) {
  const auto input = AvInput::open(path);
  if (!input) return std::nullopt;
  const std::string_view format = input->context()->iformat->name;
  MediaProbe probe;
  if (input->videoStream() >= 0) {
    probe.mediaType = MediaType::video;
    if (sniffed.kind == Sniffed::isoMedia)
      probe.uniformTypeIdentifier =
          sniffed.typeIdentifier == "com.apple.m4a-audio" ? "public.mpeg-4" : sniffed.typeIdentifier;
    else
      probe.uniformTypeIdentifier = demuxedTypeIdentifier(format, MediaType::video);
  } else if (input->audioStream() >= 0) {
    probe.mediaType = MediaType::audio;
    if (sniffed.kind == Sniffed::isoMedia && sniffed.typeIdentifier == "com.apple.quicktime-movie")
      probe.uniformTypeIdentifier = sniffed.typeIdentifier;
    else if (sniffed.kind == Sniffed::isoMedia)
      probe.uniformTypeIdentifier = "com.apple.m4a-audio";
    else
      probe.uniformTypeIdentifier = demuxedTypeIdentifier(format, MediaType::audio);
  } else {
    return std::nullopt;
  }
  probe.creationDate = containerDate(input->context());
  readPairingFacts(input->context(), probe);
  return probe;
}

}  // namespace

std::optional<MediaProbe> probeMedia(const std::string& path) {
  const auto head = readHead(path);
  if (!head) return std::nullopt;
  const SniffResult sniffed = sniffContent(*head);
  switch (sniffed.kind) {
    case Sniffed::unknown:
      return std::nullopt;
    case Sniffed::picture:
      return probePicture(path, sniffed.typeIdentifier);
    case Sniffed::isoMedia:
    case Sniffed::other:
      return probeAudioVideo(path, sniffed);
  }
  return std::nullopt;
}

}  // namespace tolvek::media
