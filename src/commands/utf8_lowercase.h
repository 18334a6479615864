#pragma once
// Lower case of UTF-8 text, the same bytes GLib's g_utf8_strdown gives
// outside Turkish and Lithuanian locales (the program never sets a locale):
// each code point's mapping, "I" with a dot above as "i" and a combining dot,
// and the capital sigma as the final sigma unless a letter follows.
#include <string>
#include <string_view>

namespace tolvek {

// `text` must be valid UTF-8 without NUL bytes (library/utf8_text.h).
std::string utf8Lowercase(std::string_view text);

}  // namespace tolvek
