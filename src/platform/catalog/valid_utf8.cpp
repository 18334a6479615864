#include "platform/catalog/valid_utf8.h"

#include <glib.h>

namespace tolvek {

bool isValidUtf8(std::string_view text) {
  // With an explicit length GLib also rejects embedded NUL bytes.
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

std::string validUtf8(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  gchar* repaired = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result(repaired);
  g_free(repaired);
  return result;
}

}  // namespace tolvek
