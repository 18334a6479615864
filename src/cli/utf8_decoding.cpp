#include "cli/utf8_decoding.h"

#include <cstdint>

namespace tolvek {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct LeadByte {
  int length;               // bytes in the whole sequence; 0: never a lead byte
  std::uint8_t secondLow;   // the second byte's range, narrower than 80..BF
  std::uint8_t secondHigh;  // after E0, ED, F0 and F4 (no overlongs, surrogates
                            // or values beyond U+10FFFF)
};

// Well-formed byte sequences, Unicode 15 Table 3-7.
LeadByte classify(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

std::string decodeUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      text.push_back(bytes[i]);
      ++i;
      continue;
    }
    const LeadByte kind = classify(lead);
    if (kind.length == 0) {
      text.append(kReplacement);
      ++i;
      continue;
    }
    // Count the bytes that still fit the sequence; stop at the first that does not.
    std::size_t fitting = 1;
    while (fitting < static_cast<std::size_t>(kind.length) && i + fitting < bytes.size()) {
      const auto b = static_cast<std::uint8_t>(bytes[i + fitting]);
      const std::uint8_t low = fitting == 1 ? kind.secondLow : 0x80;
      const std::uint8_t high = fitting == 1 ? kind.secondHigh : 0xBF;
      if (b < low || b > high) break;
      ++fitting;
    }
    if (fitting == static_cast<std::size_t>(kind.length)) {
      text.append(bytes.substr(i, fitting));
    } else {
      text.append(kReplacement);
    }
    i += fitting;
  }
  return text;
}

std::vector<std::string> decodeArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(decodeUtf8(argv[i]));
  return arguments;
}

}  // namespace tolvek
