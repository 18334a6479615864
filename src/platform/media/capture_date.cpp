#include "platform/media/capture_date.h"

#include <cctype>
#include <ctime>

namespace tolvek::media {
namespace {

// Reads exactly `digits` decimal digits at `pos`.
std::optional<int> number(std::string_view text, std::size_t pos, std::size_t digits) {
  if (pos + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + digits; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

using Fields = CivilTime;

bool plausible(const Fields& f) {
  return f.year >= 1800 && f.year <= 9999 && isCalendarTime(f);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t asUtc(const Fields& f) {
  return daysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) * 86400 +
         f.hour * 3600 + f.minute * 60 + f.second;
}

}  // namespace

bool isCalendarTime(const CivilTime& f) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (f.month < 1 || f.month > 12 || f.day < 1) return false;
  const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
  const int days = kDays[f.month - 1] + (f.month == 2 && leap ? 1 : 0);
  return f.day <= days && f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 && f.second >= 0 &&
         f.second <= 60;
}

std::optional<std::int64_t> asLocal(const CivilTime& f) {
  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

namespace {

// "+HH:MM", "-HHMM", "+HH" or "Z" at `pos`, to seconds east of UTC.
std::optional<int> zoneOffset(std::string_view text) {
  if (text == "Z" || text == "z") return 0;
  if (text.size() < 3 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  const auto hours = number(text, 1, 2);
  if (!hours || *hours > 23) return std::nullopt;
  int minutes = 0;
  if (text.size() > 3) {
    const std::size_t at = text[3] == ':' ? 4 : 3;
    const auto parsed = number(text, at, 2);
    if (!parsed || *parsed > 59) return std::nullopt;
    minutes = *parsed;
  }
  const int seconds = *hours * 3600 + minutes * 60;
  return text[0] == '-' ? -seconds : seconds;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) != 0 || text.front() == '\0'))
    text.remove_prefix(1);
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) != 0 || text.back() == '\0'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::int64_t> exifCaptureTime(std::string_view dateTime, std::optional<std::string_view> offset) {
  dateTime = trimmed(dateTime);
  if (dateTime.size() < 19 || dateTime[4] != ':' || dateTime[7] != ':' || dateTime[13] != ':' ||
      dateTime[16] != ':')
    return std::nullopt;
  const auto y = number(dateTime, 0, 4), mo = number(dateTime, 5, 2), d = number(dateTime, 8, 2);
  const auto h = number(dateTime, 11, 2), mi = number(dateTime, 14, 2), s = number(dateTime, 17, 2);
  if (!y || !mo || !d || !h || !mi || !s) return std::nullopt;
  const Fields fields{*y, *mo, *d, *h, *mi, *s};
  if (!plausible(fields)) return std::nullopt;
  if (offset) {
    if (const auto east = zoneOffset(trimmed(*offset))) return asUtc(fields) - *east;
  }
  return asLocal(fields);
}

std::optional<std::int64_t> isoCaptureTime(std::string_view text, Zoneless zoneless) {
  text = trimmed(text);
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
      text[13] != ':')
    return std::nullopt;
  const auto y = number(text, 0, 4), mo = number(text, 5, 2), d = number(text, 8, 2);
  const auto h = number(text, 11, 2), mi = number(text, 14, 2);
  if (!y || !mo || !d || !h || !mi) return std::nullopt;
  std::string_view rest = text.substr(16);
  int second = 0;
  if (!rest.empty() && rest.front() == ':') {
    const auto s = number(text, 17, 2);
    if (!s) return std::nullopt;
    second = *s;
    rest = text.substr(19);
    if (!rest.empty() && rest.front() == '.') {
      rest.remove_prefix(1);
      while (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest.front())) != 0) rest.remove_prefix(1);
    }
  }
  const Fields fields{*y, *mo, *d, *h, *mi, second};
  if (!plausible(fields)) return std::nullopt;
  if (rest.empty()) return zoneless == Zoneless::local ? asLocal(fields) : std::optional(asUtc(fields));
  const auto east = zoneOffset(rest);
  if (!east) return std::nullopt;
  return asUtc(fields) - *east;
}

}  // namespace tolvek::media
