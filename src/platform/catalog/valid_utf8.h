#pragma once
// Text that the library stores and hands out is always valid UTF-8, so that
// no document built from it can fail to serialise.
#include <string>
#include <string_view>

namespace tolvek {

// `text` unchanged when it is valid UTF-8 without NUL bytes; otherwise a copy
// with U+FFFD in place of every byte that does not start a valid sequence.
std::string validUtf8(std::string_view text);

// True when `text` is valid UTF-8 and holds no NUL byte.
bool isValidUtf8(std::string_view text);

}  // namespace tolvek
