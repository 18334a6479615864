#pragma once
// A picture's EXIF and XMP read with exiv2: its capture date, whether it is
// marked rejected and Apple's content identifier. exiv2 reads every file
// through CappedExivIo (never by name) and any failure of it, however
// damaged the file, is "no metadata".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/posix_file.h"

namespace tolvek::media {

struct PhotoMetadata {
  // The first plausible of: EXIF DateTimeOriginal with OffsetTimeOriginal,
  // DateTimeDigitized with OffsetTimeDigitized, IFD0 DateTime with
  // OffsetTime, then XMP exif:DateTimeOriginal and xmp:CreateDate. A time
  // without an offset is local time.
  std::optional<std::int64_t> captureDate;
  // XMP xmp:Rating below zero: -1 is "rejected" to darktable, digiKam,
  // Lightroom and Shotwell.
  bool rejected = false;
  std::string contentIdentifier;  // Apple's, from the maker note; empty when none
};

// Once per process, before any other call: BMFF (HEIC, AVIF, CR3) on, the
// XMP toolkit's global state locked for the workers' threads, and exiv2's
// warnings to standard error silenced.
void startExiv2();

// The metadata of the picture `file`, read up to its size when opened;
// nothing when exiv2 does not read the file (an unknown format, damage).
std::optional<PhotoMetadata> readPhotoMetadata(const ReadableFile& file);

// The same from the bytes of an EXIF block (a TIFF header and its IFDs, or
// "Exif\0\0" before them) and of an XMP packet, as another reader hands
// them out; either may be empty.
PhotoMetadata photoMetadataFromBlocks(std::string_view exif, std::string_view xmp);

// What an XMP sidecar packet says (its date and rating; a sidecar has no
// EXIF); nothing when it is no XMP exiv2 parses.
std::optional<PhotoMetadata> sidecarMetadata(std::string_view packet);

}  // namespace tolvek::media
