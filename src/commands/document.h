#pragma once
// A result document as a command builds it: a JSON object. The cli layer
// serialises it with the program's own escaping.
#include <nlohmann/json.hpp>

namespace tolvek {

using Document = nlohmann::json;

}  // namespace tolvek
