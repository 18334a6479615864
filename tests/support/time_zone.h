#pragma once
// A fixed local time zone for the life of a test, so that wall-clock times
// read as local differ from UTC on every machine (build machines often run
// in UTC, where the two cannot be told apart).
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

}  // namespace tolvek::testing
