#pragma once
// Command-line arguments arrive as bytes. They are decoded as UTF-8 before
// anything compares or passes them on, so every document stays valid JSON
// and every path reported names the file actually written.
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

// `bytes` with each maximal subpart of an ill-formed sequence replaced by
// U+FFFD (the substitution the Unicode standard recommends, chapter 3.9):
// a lead byte and the continuation bytes that could still complete it form
// one subpart; any other invalid byte is a subpart of its own. Well-formed
// input comes back unchanged.
std::string decodeUtf8(std::string_view bytes);

// The process arguments without the program path, each decoded.
std::vector<std::string> decodeArguments(int argc, const char* const* argv);

}  // namespace tolvek
