#pragma once
// The bytes of a result document: one compact JSON object.
#include <string>
#include <string_view>

#include "commands/document.h"

namespace tolvek {

// `document` as compact UTF-8 JSON: no whitespace between tokens, keys as the
// document holds them, every "/" inside a string written as "\/", quotation
// marks, backslashes and control characters escaped, everything outside ASCII
// as plain UTF-8. "{}" when it cannot be written: the document is not an
// object, or holds a string that is not valid UTF-8, a number that is not
// finite, or a value JSON cannot express (binary, discarded). The same bytes
// as ResultDocument(document).
std::string serializeDocument(const Document& document);

// The error document: exactly the keys "error" and "message", in that order.
ResultDocument errorResult(std::string_view code, std::string_view message);
// The same read back as a JSON value.
Document errorDocument(std::string_view code, std::string_view message);

}  // namespace tolvek
