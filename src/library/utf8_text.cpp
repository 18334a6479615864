#include "library/utf8_text.h"

namespace tolvek {

// The length of the valid sequence at the start of `text`, 0 when there is
// none. The second byte's range depends on the first (that is what rules out
// overlong forms, surrogates and code points above U+10FFFF); every later
// byte is a plain continuation byte.
std::size_t utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead >= 0x01 && lead <= 0x7F) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong three-byte forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong four-byte forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;  // NUL, a continuation byte, C0, C1 or F5..FF
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::size_t validUtf8Prefix(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = utf8SequenceLength(text.substr(at));
    if (length == 0) break;
    at += length;
  }
  return at;
}

std::string validUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  while (!text.empty()) {
    const std::size_t valid = validUtf8Prefix(text);
    repaired.append(text.substr(0, valid));
    if (valid == text.size()) break;
    repaired += "\xEF\xBF\xBD";
    text.remove_prefix(valid + 1);
  }
  return repaired;
}

}  // namespace tolvek
