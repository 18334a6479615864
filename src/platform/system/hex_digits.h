#pragma once
// Bytes written as hexadecimal digits, for identifiers, URIs and escapes.
#include <string>

namespace tolvek {

enum class HexLetters { lower, upper };

// Appends `byte` as two digits ("0a" or "0A").
inline void appendHexByte(std::string& out, unsigned char byte, HexLetters letters = HexLetters::lower) {
  const char* digits = letters == HexLetters::upper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 0xF];
}

// The value of the hexadecimal digit `c` (either case); -1 for another character.
constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace tolvek
