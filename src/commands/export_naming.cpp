#include "commands/export_naming.h"

#include <memory>

#include "commands/utf8_lowercase.h"
#include "library/asset_queries.h"
#include "library/media_formats.h"
#include "library/utf8_text.h"

namespace tolvek {

FileNameParts splitFileName(std::string_view name) {
  const std::size_t firstNonDot = name.find_first_not_of('.');
  const std::size_t lastDot = name.rfind('.');
  if (firstNonDot == std::string_view::npos || lastDot == std::string_view::npos || lastDot < firstNonDot ||
      lastDot + 1 == name.size()) {
    return {std::string(name), {}};
  }
  return {std::string(name.substr(0, lastDot)), std::string(name.substr(lastDot + 1))};
}

std::string lowercased(std::string_view text) {
  // Text that is not valid UTF-8 (or holds NUL bytes) goes the ASCII way.
  if (isValidUtf8(text)) return utf8Lowercase(text);
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string absolutePath(const std::string& path, const std::string& workingDirectory) {
  const bool fromRoot = !path.empty() && path[0] == '/';
  const std::string joined = fromRoot || workingDirectory.empty() ? path : workingDirectory + "/" + path;
  const bool absolute = !joined.empty() && joined[0] == '/';

  std::string normalised;
  std::string_view rest = joined;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (absolute || !normalised.empty()) normalised += '/';
    normalised += segment;
  }
  if (normalised.empty()) return absolute ? "/" : ".";
  return normalised;
}

std::string appendingPathComponent(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

std::string cleanedFileName(const std::string& name, MediaType mediaType) {
  std::string cleaned = name;
  for (char& c : cleaned) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (cleaned.empty() || cleaned == "." || cleaned == "..") return fallbackName(mediaType);
  return cleaned;
}

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

bool needsJpegConversion(const std::optional<std::string>& typeIdentifier, const std::string& fileName) {
  const std::string type = lowercased(typeIdentifier.value_or(std::string()));
  const std::string name = lowercased(fileName);
  for (const MediaFormat& format : kMediaFormats) {
    if (!format.convertedOnExport) continue;
    // The extension's letters name the format anywhere in a type identifier
    // ("public.heic", a vendor's "com.example.heics-sequence").
    const std::string_view letters = format.extension.substr(1);
    if (type.find(letters) != std::string::npos || name.ends_with(format.extension)) return true;
  }
  return false;
}

std::string convertedFileName(const std::string& fileName) { return splitFileName(fileName).base + ".jpg"; }

}  // namespace tolvek
