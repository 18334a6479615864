#include "commands/iso_date_formatter.h"

#include <chrono>
#include <cstdio>

namespace tolvek {

namespace {

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

}  // namespace

std::optional<std::string> IsoDateFormatter::stringFromDate(std::int64_t secondsSinceEpoch) const {
  using namespace std::chrono;
  // Checked before any calendar arithmetic, which would overflow far out.
  if (secondsSinceEpoch < kFirstSecond || secondsSinceEpoch > kLastSecond) return std::nullopt;
  const sys_seconds time{seconds{secondsSinceEpoch}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                static_cast<long long>(clock.seconds().count()));
  return std::string(text);
}

}  // namespace tolvek
