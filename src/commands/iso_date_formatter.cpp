#include "commands/iso_date_formatter.h"

#include <chrono>

namespace tolvek {

namespace {

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

// `value` (below 10^digits) as `digits` decimal digits, zero-padded, at `at`.
void putDigits(char* at, unsigned value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

std::string_view IsoDateFormatter::writeDate(std::int64_t secondsSinceEpoch, char (&text)[kLength]) const {
  using namespace std::chrono;
  // Checked before any calendar arithmetic, which would overflow far out.
  if (secondsSinceEpoch < kFirstSecond || secondsSinceEpoch > kLastSecond) return {};
  const sys_seconds time{seconds{secondsSinceEpoch}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const auto second = static_cast<unsigned>((time - day).count());  // 0 to 86399
  putDigits(text, static_cast<unsigned>(static_cast<int>(date.year())), 4);
  text[4] = '-';
  putDigits(text + 5, static_cast<unsigned>(date.month()), 2);
  text[7] = '-';
  putDigits(text + 8, static_cast<unsigned>(date.day()), 2);
  text[10] = 'T';
  putDigits(text + 11, second / 3600, 2);
  text[13] = ':';
  putDigits(text + 14, second / 60 % 60, 2);
  text[16] = ':';
  putDigits(text + 17, second % 60, 2);
  text[19] = 'Z';
  return {text, kLength};
}

std::optional<std::string> IsoDateFormatter::stringFromDate(std::int64_t secondsSinceEpoch) const {
  char text[kLength];
  const std::string_view date = writeDate(secondsSinceEpoch, text);
  if (date.empty()) return std::nullopt;
  return std::string(date);
}

}  // namespace tolvek
