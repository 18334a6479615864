#include "platform/media/probe_metadata.h"

#include <string_view>

#include "platform/media/capped_source.h"
#include "platform/media/file_name_date.h"
#include "platform/media/photo_metadata.h"
#include "platform/media/vips_handle.h"
#include "platform/posix/path_text.h"

namespace tolvek::media {
namespace {

std::string_view blobOf(VipsImage* image, const char* field) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (vips_image_get_typeof(image, field) == 0 || vips_image_get_blob(image, field, &data, &length) != 0 ||
      data == nullptr) {
    clearVipsError();
    return {};
  }
  return {static_cast<const char*>(data), length};
}

// The EXIF and XMP blocks libvips hands out for a picture whose metadata
// exiv2 does not find: exiv2 0.27 misses the EXIF of HEIF files laid out
// as libheif writes them (a thumbnail item before the primary one).
// Decoded by exiv2 all the same, so the chain is one.
std::optional<PhotoMetadata> libvipsMetadata(const ReadableFile& file) {
  const SourcePtr source = cappedSource(file, 0);
  if (!source) return std::nullopt;
  ImagePtr image(vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
  if (!image) {
    clearVipsError();
    return std::nullopt;
  }
  return photoMetadataFromBlocks(blobOf(image.get(), VIPS_META_EXIF_NAME), blobOf(image.get(), VIPS_META_XMP_NAME));
}

// The picture's own metadata: exiv2 on the file, then what libvips hands
// out when exiv2 found no date in it.
std::optional<PhotoMetadata> ownMetadata(const ReadableFile& file) {
  auto metadata = readPhotoMetadata(file);
  if (metadata && metadata->captureDate) return metadata;
  auto fallback = libvipsMetadata(file);
  if (!metadata) return fallback;
  if (fallback) {
    metadata->captureDate = fallback->captureDate;
    metadata->rejected = metadata->rejected || fallback->rejected;
    if (metadata->contentIdentifier.empty()) metadata->contentIdentifier = fallback->contentIdentifier;
  }
  return metadata;
}

// The sidecar beside `namedPath`, as darktable, digiKam and RawTherapee
// name it: NAME.EXT.xmp, then NAME.xmp (each as written, then in capitals);
// never through a link.
std::optional<PhotoMetadata> sidecarOf(const std::string& namedPath) {
  const std::string_view folder = folderPart(namedPath);
  const std::string_view name = namePart(namedPath);
  const std::string root = namedPath.starts_with('/') && folder.empty() ? "/" : folder.empty() ? "." : std::string(folder);
  std::string names[4] = {std::string(name) + ".xmp", std::string(name) + ".XMP"};
  if (const auto dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) {
    names[2] = std::string(name.substr(0, dot)) + ".xmp";
    names[3] = std::string(name.substr(0, dot)) + ".XMP";
  }
  for (const std::string& candidate : names) {
    if (candidate.empty()) continue;
    auto file = ReadableFile::openBelow(root, candidate);
    if (!file || file->size() > kMaxSidecarBytes) continue;
    auto packet = file->read(kMaxSidecarBytes);
    if (!packet) continue;
    return sidecarMetadata(*packet);
  }
  return std::nullopt;
}

}  // namespace

void completeProbe(MediaProbe& probe, const ReadableFile& file, const std::string& namedPath) {
  const bool picture = probe.mediaType == MediaType::image;
  if (picture) {
    if (const auto metadata = ownMetadata(file)) {
      if (metadata->captureDate) probe.creationDate = metadata->captureDate;
      probe.rejected = metadata->rejected;
      probe.contentIdentifier = metadata->contentIdentifier;
    }
  }
  if (picture || !probe.creationDate) {
    if (const auto sidecar = sidecarOf(namedPath)) {
      if (!probe.creationDate && sidecar->captureDate) {
        probe.creationDate = sidecar->captureDate;
        probe.dateFrom = MediaProbe::DateFrom::sidecar;
      }
      if (picture && sidecar->rejected) probe.rejected = true;
    }
  }
  if (!probe.creationDate) {
    if (const auto named = fileNameDate(namePart(namedPath))) {
      probe.creationDate = named;
      probe.dateFrom = MediaProbe::DateFrom::fileName;
    }
  }
}

}  // namespace tolvek::media
