#pragma once
// The media module as the tests reach it: through the loader, like the helper.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "platform/media_module.h"

namespace tolvek::testing {

inline MediaModule& mediaModule() {
  MediaModule* module = loadMediaModule();
  if (module == nullptr) throw std::runtime_error("the media module did not load");
  return *module;
}

inline std::string samplesDir() { return TOLVEK_SAMPLES_DIR; }

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
