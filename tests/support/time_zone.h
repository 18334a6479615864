#pragma once
// A fixed local time zone for the life of a test, so that wall-clock times
// read as local differ from UTC on every machine (build machines often run
// in UTC, where the two cannot be told apart).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tolvek::testing {

class ScopedTimeZone {
 public:
  // A POSIX zone needs no zone database: "TST+03" is three hours west of UTC.
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) ::setenv("TZ", previous_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// The instant of a wall-clock time in this process's zone.
inline std::int64_t localInstant(int year, int month, int day, int hour, int minute) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&local));
}

}  // namespace tolvek::testing
