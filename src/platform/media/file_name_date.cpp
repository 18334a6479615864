#include "platform/media/file_name_date.h"

#include <cctype>

#include "platform/media/capture_date.h"

namespace tolvek::media {
namespace {

// How the programs that write dates into names write them. A row is a
// pattern that the name must begin with: %Y stands for the year's four
// decimal digits, %m, %d, %H, %M and %S for two of the month, day, hour,
// minute and second (as strftime writes them), every other character for
// itself. What follows the pattern does not matter
// (milliseconds, a counter, the extension). Names carry local time, as the
// device's clock showed it. A row without a time (WhatsApp writes the day
// and a counter) stands for noon local time: the middle of the day is at
// most half a day from the truth and stays on the right calendar day in
// any zone within twelve hours of the one it was written in.
// The first row that matches decides, so longer prefixes come first.
constexpr NamePattern kNamePatterns[] = {
    {"IMG_%Y%m%d_%H%M%S", "IMG_20230704_174510.jpg"},  // Android cameras
    {"VID_%Y%m%d_%H%M%S", "VID_20230704_174510.mp4"},
    {"PXL_%Y%m%d_%H%M%S", "PXL_20230704_174510789.jpg"},  // Pixel, then milliseconds
    {"MVIMG_%Y%m%d_%H%M%S", "MVIMG_20230704_174510.jpg"},
    {"PANO_%Y%m%d_%H%M%S", "PANO_20230704_174510.jpg"},
    {"IMG-%Y%m%d-WA", "IMG-20230812-WA0007.jpg"},  // WhatsApp: a date and a counter
    {"VID-%Y%m%d-WA", "VID-20230812-WA0003.mp4"},
    {"signal-%Y-%m-%d-%H%M%S", "signal-2023-08-12-104512.jpg"},
    {"Screenshot from %Y-%m-%d %H-%M-%S", "Screenshot from 2024-01-15 10-22-33.png"},  // GNOME
    {"Screenshot_%Y-%m-%d-%H-%M-%S", "Screenshot_2024-01-15-10-22-33.png"},
    {"Screenshot_%Y%m%d-%H%M%S", "Screenshot_20240115-102233.png"},            // Android
    {"Screenshot %Y-%m-%d at %H.%M.%S", "Screenshot 2024-01-15 at 10.22.33.png"},  // macOS
    {"Screen Shot %Y-%m-%d at %H.%M.%S", "Screen Shot 2024-01-15 at 10.22.33 PM.png"},
    {"%Y%m%d_%H%M%S", "20230704_174510.jpg"},  // Samsung
    {"%Y-%m-%d %H.%M.%S", "2023-07-04 17.45.10.jpg"},  // Dropbox camera uploads
};

// Years a name's digits plausibly stand for: from the epoch to a few
// generations ahead; other digit runs are counters or serial numbers.
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2100;

// The fields `pattern` reads from the start of `name`; false when a
// literal or a digit is missing. `timed` tells whether it read an hour,
// `rest` is what follows the match.
bool matchPattern(std::string_view pattern, std::string_view name, CivilTime& time, bool& timed,
                  std::string_view& rest) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 == pattern.size()) {
      if (at >= name.size() || name[at] != pattern[i]) return false;
      ++at;
      continue;
    }
    const char field = pattern[++i];
    int* value = field == 'Y'   ? &time.year
                 : field == 'm' ? &time.month
                 : field == 'd' ? &time.day
                 : field == 'H' ? &time.hour
                 : field == 'M' ? &time.minute
                                : &time.second;
    timed = timed || field == 'H';
    for (std::size_t digits = field == 'Y' ? 4 : 2; digits > 0; --digits, ++at) {
      if (at >= name.size() || std::isdigit(static_cast<unsigned char>(name[at])) == 0) return false;
      *value = *value * 10 + (name[at] - '0');
    }
  }
  rest = name.substr(at);
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
    std::string_view rest;
    if (!matchPattern(row.pattern, name, time, timed, rest)) continue;
    if (timed) {
      twelveHourClock(rest, time);
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
