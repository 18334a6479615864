#include "commands/unique_file_names.h"

#include <string_view>

#include "commands/file_name_parts.h"
#include "commands/unicode_lowercase.h"

namespace tolvek {
namespace {

// Room kept for at least one byte of base, "-" and a 20-digit number.
constexpr std::size_t kNumberRoom = 22;

// `base` + `suffix`, with the base cut back at a UTF-8 character boundary so
// that the whole fits kMaxFileNameBytes.
std::string fitted(std::string_view base, std::string_view suffix) {
  if (base.size() + suffix.size() > kMaxFileNameBytes) {
    std::size_t keep = kMaxFileNameBytes - suffix.size();
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
    base = base.substr(0, keep);
  }
  std::string name(base);
  name += suffix;
  return name;
}

}  // namespace

std::string UniqueFileNames::unique(const std::string& proposed) {
  FileNameParts parts = splitFileName(proposed);
  // An extension too long to leave room for a number is part of the base.
  if (parts.extension.size() + 1 + kNumberRoom > kMaxFileNameBytes) parts = {proposed, {}};
  const std::string dotExtension = parts.extension.empty() ? std::string() : "." + parts.extension;

  std::string candidate = proposed.size() <= kMaxFileNameBytes ? proposed : fitted(parts.base, dotExtension);
  for (std::size_t n = 2; used_.count(lowercased(candidate)); ++n) {
    candidate = fitted(parts.base, "-" + std::to_string(n) + dotExtension);
  }
  used_.insert(lowercased(candidate));
  return candidate;
}

}  // namespace tolvek
