#pragma once
// A list of strings as the text of a JSON array, to bind as ONE parameter and
// read back with SQLite's json_each: a lookup of any number of identifiers
// stays a single statement.
#include <string>
#include <vector>

namespace tolvek {

// Strings that are not valid UTF-8 or hold NUL bytes are left out: no
// identifier of the library can equal them.
std::string jsonStringArray(const std::vector<std::string>& strings);

}  // namespace tolvek
