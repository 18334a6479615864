#include "commands/export_file_name.h"

#include "library/asset_queries.h"

namespace tolvek {

std::string cleanedFileName(const std::string& name, std::int64_t mediaType) {
  std::string cleaned = name;
  for (char& c : cleaned) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (cleaned.empty() || cleaned == "." || cleaned == "..") return fallbackName(mediaType);
  return cleaned;
}

}  // namespace tolvek
