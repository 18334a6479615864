#include "commands/iso_date_formatter.h"

#include <chrono>
#include <cstdio>

namespace tolvek {

std::string IsoDateFormatter::stringFromDate(std::int64_t secondsSinceEpoch) const {
  using namespace std::chrono;
  const sys_seconds time{seconds{secondsSinceEpoch}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                static_cast<long long>(clock.seconds().count()));
  return text;
}

}  // namespace tolvek
