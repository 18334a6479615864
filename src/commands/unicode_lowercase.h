#pragma once
// Full Unicode lower-casing of a whole string, independent of the locale.
#include <string>
#include <string_view>

namespace tolvek {

// Lower-cases valid UTF-8 with the Unicode rules (İ gives i and a combining
// dot above, a final Σ gives ς, ẞ gives ß); text that is not valid UTF-8 is
// lower-cased in ASCII only, byte by byte.
std::string lowercased(std::string_view text);

}  // namespace tolvek
