#include "commands/unicode_lowercase.h"

#include <glib.h>

#include <memory>

namespace tolvek {

std::string lowercased(std::string_view text) {
  // GLib refuses embedded NULs in a counted string, so such text goes the
  // ASCII way too. The program never calls setlocale, so GLib's Turkish and
  // Lithuanian rules never apply.
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) {
    const std::unique_ptr<gchar, decltype(&g_free)> lower(
        g_utf8_strdown(text.data(), static_cast<gssize>(text.size())), &g_free);
    return lower.get();
  }
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace tolvek
