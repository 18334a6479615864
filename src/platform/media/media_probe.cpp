#include "platform/media/media_probe.h"

#include <algorithm>
#include <string_view>

#include "library/media_formats.h"
#include "platform/media/av_input.h"
#include "platform/media/capture_date.h"
#include "platform/media/content_kind.h"
#include "platform/media/probe_metadata.h"
#include "platform/media/raw_picture.h"
#include "platform/media/vips_picture.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {
namespace {

constexpr std::size_t kHeadSize = std::max<std::size_t>(512, kSniffBytes);

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
  return probe;
}

std::optional<std::int64_t> containerDate(AVFormatContext* context) {
  // Apple's tag keeps the local offset; the generic one is UTC in MP4 and
  // QuickTime, but AVI's date chunks (IDIT as creation_time, ICRD as date)
  // hold the camera's clock, local time without a zone.
  const bool avi = std::string_view(context->iformat->name) == "avi";
  const Zoneless zoneless = avi ? Zoneless::local : Zoneless::utc;
  for (const char* key : {"com.apple.quicktime.creationdate", "creation_time", avi ? "date" : ""}) {
    if (*key == '\0') continue;
    if (const AVDictionaryEntry* entry = av_dict_get(context->metadata, key, nullptr, 0)) {
      if (const auto date = isoCaptureTime(entry->value, zoneless)) return date;
    }
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    if (const AVDictionaryEntry* entry = av_dict_get(context->streams[i]->metadata, "creation_time", nullptr, 0)) {
      if (const auto date = isoCaptureTime(entry->value, zoneless)) return date;
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

// The kind-specific part of a probe: kind, type identifier and what the
// container itself says (a video's date).
std::optional<MediaProbe> probeByKind(const std::string& path, const SniffResult& sniffed) {
  switch (sniffed.kind) {
    case Sniffed::unknown:
      return std::nullopt;
    case Sniffed::picture:
      return probePicture(path, sniffed.typeIdentifier);
    case Sniffed::cameraRaw: {
      // A TIFF that LibRaw takes for no RAW (a scan with a camera maker's
      // name) is a plain TIFF.
      RawProbe raw = probeCameraRaw(path, sniffed.typeIdentifier);
      return raw.outcome == RawOutcome::notRaw ? probePicture(path, "public.tiff") : std::move(raw.probe);
    }
    case Sniffed::isoMedia:
    case Sniffed::other:
      return probeAudioVideo(path, sniffed);
  }
  return std::nullopt;
}

}  // namespace

std::optional<MediaProbe> probeMedia(const std::string& path, const std::string& namedPath) {
  // Opened once, a regular file only (a FIFO or device is refused at once):
  // the sniffer and the metadata reader read this very file.
  const auto file = ReadableFile::open(path);
  if (!file) return std::nullopt;
  const auto head = file->read(kHeadSize);
  if (!head) return std::nullopt;
  auto probe = probeByKind(path, sniffContent(*head));
  if (probe) completeProbe(*probe, *file, namedPath);
  return probe;
}

}  // namespace tolvek::media
