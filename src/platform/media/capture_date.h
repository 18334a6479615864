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

// A date and time as a calendar and a clock show it.
struct CivilTime {
  int year, month, day, hour, minute, second;
};

// True when the date exists (February 29th only in leap years) and the time
// is one of a day (a leap second allowed).
bool isCalendarTime(const CivilTime& time);

// The instant a clock in the local time zone showed `time`; nothing when
// the system cannot tell.
std::optional<std::int64_t> asLocal(const CivilTime& time);

}  // namespace tolvek::media
