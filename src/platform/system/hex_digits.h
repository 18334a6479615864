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

}  // namespace tolvek
