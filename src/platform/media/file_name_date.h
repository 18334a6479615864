#pragma once
// Dates and times that cameras, phones, screenshot tools and messengers
// write into the names of the files they make, for files whose content
// carries no date.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tolvek::media {

// One way of writing a date into a name, with a name written that way.
struct NamePattern {
  std::string_view pattern;
  std::string_view example;
};

// The table, in the order it is tried.
std::span<const NamePattern> fileNamePatterns();

// The instant the name `name` (a file's name, without its folder) states,
// in local time, from the first row of the table in file_name_date.cpp it
// begins with; nothing when no row matches or the digits are no valid date
// and time.
std::optional<std::int64_t> fileNameDate(std::string_view name);

}  // namespace tolvek::media
