#include "cli/argument_rules.h"

#include <algorithm>
#include <charconv>

namespace tolvek {
namespace {

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::int64_t> parseInteger(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  const bool hasSign = !text.empty() && (text.front() == '+' || text.front() == '-');
  const std::string_view digits = hasSign ? text.substr(1) : text;
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isAsciiDigit)) return std::nullopt;
  // from_chars reads the minus sign itself, so the most negative value parses
  // without overflowing on the way; it never accepts "+".
  const std::string_view number = negative ? text : digits;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
  return value;
}

std::int64_t integerOr(std::string_view text, std::int64_t fallback) { return parseInteger(text).value_or(fallback); }

std::vector<std::string> splitIdentifierList(std::string_view text) {
  std::vector<std::string> pieces;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    if (!piece.empty()) pieces.emplace_back(piece);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return pieces;
}

}  // namespace tolvek
