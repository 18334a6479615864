#pragma once
// Writes dates in the internet date-time form of ISO 8601, always in UTC:
// YYYY-MM-DDThh:mm:ssZ, no fractional seconds.
#include <cstdint>
#include <string>

namespace tolvek {

class IsoDateFormatter {
 public:
  // Internet date-time: full date, T, full time with colons, time-zone Z.
  static constexpr unsigned kFormatOptions = 1907;

  unsigned formatOptions() const { return kFormatOptions; }
  // `secondsSinceEpoch` counted from 1970-01-01T00:00:00Z.
  std::string stringFromDate(std::int64_t secondsSinceEpoch) const;
};

}  // namespace tolvek
