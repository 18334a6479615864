#include "platform/catalog/json_string_array.h"

#include <cstdio>

#include "platform/catalog/valid_utf8.h"

namespace tolvek {

std::string jsonStringArray(const std::vector<std::string>& strings) {
  std::string json = "[";
  bool first = true;
  for (const std::string& s : strings) {
    if (!isValidUtf8(s)) continue;
    if (!first) json += ',';
    first = false;
    json += '"';
    for (char c : s) {
      if (c == '"' || c == '\\') {
        json += '\\';
        json += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        json += escaped;
      } else {
        json += c;
      }
    }
    json += '"';
  }
  json += ']';
  return json;
}

}  // namespace tolvek
