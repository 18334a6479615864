#pragma once
// How command arguments become parameters. Malformed numbers are never
// errors: the parameter's default applies, silently.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

// The integer rule: the whole text is an optional single "+" or "-" followed
// by one or more ASCII digits, and the value fits in a signed 64-bit integer.
// Leading zeros are allowed. Nothing for anything else.
std::optional<std::int64_t> parseInteger(std::string_view text);

// parseInteger's value, or `fallback` when the rule rejects `text`.
std::int64_t integerOr(std::string_view text, std::int64_t fallback);

// The identifier-list rule: `text` cut at every ",", empty pieces dropped,
// the rest unaltered (spaces kept), in order, duplicates repeated.
std::vector<std::string> splitIdentifierList(std::string_view text);

}  // namespace tolvek
