#pragma once
// UTF-8 validation by the strict rules (the ones GLib's g_utf8_validate
// applies, so that text accepted before is accepted now): no overlong forms,
// no surrogates, nothing above U+10FFFF, and no NUL byte in counted text.
// Every layer that checks or repairs text calls these two.
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvek {

// The length of the longest prefix of `text` that is valid UTF-8 without NUL
// bytes; text.size() when all of it is.
// The length of the well-formed UTF-8 sequence that starts `text`, 0 when
// none does (NUL, a stray continuation byte, an overlong form, a surrogate,
// a value beyond U+10FFFF, a sequence cut off by the end).
std::size_t utf8SequenceLength(std::string_view text);

std::size_t validUtf8Prefix(std::string_view text);

// True when `text` is valid UTF-8 and holds no NUL byte.
inline bool isValidUtf8(std::string_view text) { return validUtf8Prefix(text) == text.size(); }

// `text` unchanged when it is valid; otherwise a copy with U+FFFD in place of
// every byte at which a valid sequence cannot start or continue (one U+FFFD
// per such byte, as g_utf8_make_valid writes it).
std::string validUtf8(std::string_view text);

}  // namespace tolvek
