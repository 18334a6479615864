#include "cli/result_document.h"

#include <cmath>

namespace tolvek {
namespace {

constexpr std::string_view kUnwritable = "{}";

// Values the serialiser would write in a form that is not what they are
// (a non-finite number as null) or not JSON at all.
bool writable(const Document& value) {
  switch (value.type()) {
    case Document::value_t::object:
    case Document::value_t::array:
      for (const Document& element : value) {
        if (!writable(element)) return false;
      }
      return true;
    case Document::value_t::number_float:
      return std::isfinite(value.get<double>());
    case Document::value_t::binary:
    case Document::value_t::discarded:
      return false;
    default:
      return true;
  }
}

}  // namespace

std::string serializeDocument(const Document& document) {
  if (!document.is_object() || !writable(document)) return std::string(kUnwritable);
  std::string json;
  try {
    // Compact, raw UTF-8, and a type_error on any string that is not UTF-8.
    json = document.dump(-1, ' ', false, Document::error_handler_t::strict);
  } catch (const Document::exception&) {
    return std::string(kUnwritable);
  }
  // Outside strings compact JSON holds only punctuation, numbers and the
  // literals, and UTF-8 never uses the byte 0x2F inside a multi-byte
  // character, so every "/" here is a slash inside a key or string value.
  std::string escaped;
  escaped.reserve(json.size());
  for (const char c : json) {
    if (c == '/') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

Document errorDocument(std::string_view code, std::string_view message) {
  return Document{{"error", std::string(code)}, {"message", std::string(message)}};
}

}  // namespace tolvek
