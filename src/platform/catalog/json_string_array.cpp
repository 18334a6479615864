#include "platform/catalog/json_string_array.h"

#include "platform/catalog/valid_utf8.h"
#include "platform/system/hex_digits.h"

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
        json += "\\u00";
        appendHexByte(json, static_cast<unsigned char>(c));
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
