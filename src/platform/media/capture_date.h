#pragma once
// Capture dates as pictures and videos write them, to seconds since the epoch.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvek::media {

// EXIF "YYYY:MM:DD HH:MM:SS" with an optional offset "+HH:MM" (OffsetTimeOriginal).
// Without an offset the time is read in the local time zone. Nothing for text
// that is not such a date (cameras write "0000:00:00 00:00:00" when unset).
std::optional<std::int64_t> exifCaptureTime(std::string_view dateTime, std::optional<std::string_view> offset);

// What a time without a zone designator stands for.
enum class Zoneless { utc, local };

// ISO 8601 as containers and XMP write it: "2021-03-04T05:06:07.000000Z",
// "2021-03-04T05:06:07+0100", "2021-03-04 05:06:07", "2021-03-04T05:06+01:00"
// (seconds may be left out, and fractions of them are dropped). A time
// without a zone is read as `zoneless` says.
std::optional<std::int64_t> isoCaptureTime(std::string_view text, Zoneless zoneless);

// The first plausible date of the XMP `property` ("exif:DateTimeOriginal")
// in a packet, as an attribute (exif:DateTimeOriginal="...") or an element
// (<exif:DateTimeOriginal>...</exif:DateTimeOriginal>); a time without a
// zone is local. Nothing when no occurrence holds one.
std::optional<std::int64_t> xmpCaptureTime(std::string_view packet, std::string_view property);

}  // namespace tolvek::media
