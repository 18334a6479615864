#pragma once
// Writes dates in the internet date-time form of ISO 8601, always in UTC:
// YYYY-MM-DDThh:mm:ssZ, no fractional seconds, years 1 to 9999 only.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

class IsoDateFormatter {
 public:
  static constexpr std::size_t kLength = 20;  // "YYYY-MM-DDThh:mm:ssZ"

  // `secondsSinceEpoch` counted from 1970-01-01T00:00:00Z; nothing for a
  // moment before 0001-01-01T00:00:00Z or after 9999-12-31T23:59:59Z, which
  // the four-digit year cannot hold.
  std::optional<std::string> stringFromDate(std::int64_t secondsSinceEpoch) const;

  // The same text in `text`, without an allocation: its kLength characters,
  // or an empty view (`text` untouched) for a moment outside those years.
  std::string_view writeDate(std::int64_t secondsSinceEpoch, char (&text)[kLength]) const;
};

}  // namespace tolvek
