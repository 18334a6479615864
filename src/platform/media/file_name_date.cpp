#include "platform/media/file_name_date.h"

#include <cctype>

#include "platform/media/capture_date.h"

namespace tolvek::media {
namespace {

// How the programs that write dates into names write them. A row is a
// pattern that the name must begin with: Y, M, D, h, m and s each stand for
// one decimal digit of the year, month, day, hour, minute and second, every
// other character for itself. What follows the pattern does not matter
// (milliseconds, a counter, the extension). Names carry local time, as the
// device's clock showed it. A row without a time (WhatsApp writes the day
// and a counter) stands for noon local time: the middle of the day is at
// most half a day from the truth and stays on the right calendar day in
// any zone within twelve hours of the one it was written in.
// The first row that matches decides, so longer prefixes come first.
constexpr NamePattern kNamePatterns[] = {
    {"IMG_YYYYMMDD_hhmmss", "IMG_20230704_174510.jpg"},  // Android cameras
    {"VID_YYYYMMDD_hhmmss", "VID_20230704_174510.mp4"},
    {"PXL_YYYYMMDD_hhmmss", "PXL_20230704_174510789.jpg"},  // Pixel, then milliseconds
    {"MVIMG_YYYYMMDD_hhmmss", "MVIMG_20230704_174510.jpg"},
    {"PANO_YYYYMMDD_hhmmss", "PANO_20230704_174510.jpg"},
    {"IMG-YYYYMMDD-WA", "IMG-20230812-WA0007.jpg"},  // WhatsApp: a date and a counter
    {"VID-YYYYMMDD-WA", "VID-20230812-WA0003.mp4"},
    {"signal-YYYY-MM-DD-hhmmss", "signal-2023-08-12-104512.jpg"},
    {"Screenshot from YYYY-MM-DD hh-mm-ss", "Screenshot from 2024-01-15 10-22-33.png"},  // GNOME
    {"Screenshot_YYYY-MM-DD-hh-mm-ss", "Screenshot_2024-01-15-10-22-33.png"},
    {"Screenshot_YYYYMMDD-hhmmss", "Screenshot_20240115-102233.png"},            // Android
    {"Screenshot YYYY-MM-DD at hh.mm.ss", "Screenshot 2024-01-15 at 10.22.33.png"},  // macOS
    {"Screen Shot YYYY-MM-DD at hh.mm.ss", "Screen Shot 2024-01-15 at 10.22.33 PM.png"},
    {"YYYYMMDD_hhmmss", "20230704_174510.jpg"},  // Samsung
    {"YYYY-MM-DD hh.mm.ss", "2023-07-04 17.45.10.jpg"},  // Dropbox camera uploads
};

// Years a name's digits plausibly stand for: from the epoch to a few
// generations ahead; other digit runs are counters or serial numbers.
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2100;

// The fields `pattern` reads from the start of `name`; false when a
// literal or a digit is missing.
bool matchPattern(std::string_view pattern, std::string_view name, CivilTime& time, bool& timed) {
  if (name.size() < pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char p = pattern[i];
    int* field = nullptr;
    switch (p) {
      case 'Y': field = &time.year; break;
      case 'M': field = &time.month; break;
      case 'D': field = &time.day; break;
      case 'h': field = &time.hour; timed = true; break;
      case 'm': field = &time.minute; break;
      case 's': field = &time.second; break;
      default:
        if (name[i] != p) return false;
        continue;
    }
    if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) return false;
    *field = *field * 10 + (name[i] - '0');
  }
  return true;
}

// macOS writes a twelve-hour clock in some languages: "10.22.33 PM", with a
// space or a narrow no-break space before the mark.
void twelveHourClock(std::string_view rest, CivilTime& time) {
  for (std::string_view space : {std::string_view(" "), std::string_view("\u202f")}) {
    if (!rest.starts_with(space)) continue;
    const std::string_view mark = rest.substr(space.size(), 2);
    if (time.hour < 1 || time.hour > 12) return;
    if (mark == "AM") time.hour %= 12;
    if (mark == "PM") time.hour = time.hour % 12 + 12;
    return;
  }
}

}  // namespace

std::span<const NamePattern> fileNamePatterns() { return kNamePatterns; }

std::optional<std::int64_t> fileNameDate(std::string_view name) {
  for (const NamePattern& row : kNamePatterns) {
    CivilTime time{0, 0, 0, 0, 0, 0};
    bool timed = false;
    if (!matchPattern(row.pattern, name, time, timed)) continue;
    if (timed) {
      twelveHourClock(name.substr(row.pattern.size()), time);
    } else {
      time.hour = 12;
    }
    if (time.year < kFirstYear || time.year > kLastYear || !isCalendarTime(time) || time.second > 59)
      return std::nullopt;
    return asLocal(time);
  }
  return std::nullopt;
}

}  // namespace tolvek::media
