#include "commands/utf8_lowercase.h"

#include <algorithm>
#include <cstdint>

namespace tolvek {
namespace {

struct LowerRun {
  char32_t first;
  char32_t last;
  std::uint32_t step;
  std::int32_t offset;
};
struct LowerSpecial {
  char32_t codePoint;
  const char* lower;
};
struct LetterRange {
  char32_t first;
  char32_t last;
};

#include "commands/lowercase_table.inc"

constexpr char32_t kCapitalSigma = 0x3A3;
constexpr char32_t kSmallSigma = 0x3C3;
constexpr char32_t kFinalSigma = 0x3C2;

// The code point at the start of valid UTF-8 `text`, and its length.
char32_t decode(std::string_view text, std::size_t& length) {
  const auto b = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[i])); };
  const char32_t lead = b(0);
  if (lead < 0x80) return length = 1, lead;
  if (lead < 0xE0) return length = 2, (lead & 0x1F) << 6 | (b(1) & 0x3F);
  if (lead < 0xF0) return length = 3, (lead & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return length = 4, (lead & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
}

void encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isLetter(char32_t c) {
  const auto* range = std::upper_bound(std::begin(kLetters), std::end(kLetters), c,
                                       [](char32_t value, const LetterRange& r) { return value < r.first; });
  return range != std::begin(kLetters) && c <= (range - 1)->last;
}

char32_t lowerCodePoint(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  const auto* run = std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), c,
                                     [](char32_t value, const LowerRun& r) { return value < r.first; });
  if (run == std::begin(kLowerRuns)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->step != 0) return c;
  return static_cast<char32_t>(static_cast<std::int64_t>(c) + run->offset);
}

}  // namespace

std::string utf8Lowercase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    const char32_t c = decode(text.substr(at), length);
    if (c == kCapitalSigma) {
      std::size_t nextLength = 0;
      const bool letterFollows = at + length < text.size() && isLetter(decode(text.substr(at + length), nextLength));
      encode(letterFollows ? kSmallSigma : kFinalSigma, out);
      continue;
    }
    const auto* special = std::find_if(std::begin(kLowerSpecials), std::end(kLowerSpecials),
                                       [&](const LowerSpecial& s) { return s.codePoint == c; });
    if (special != std::end(kLowerSpecials)) {
      out += special->lower;
    } else {
      encode(lowerCodePoint(c), out);
    }
  }
  return out;
}

}  // namespace tolvek
