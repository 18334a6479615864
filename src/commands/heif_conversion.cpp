#include "commands/heif_conversion.h"

#include "commands/file_name_parts.h"
#include "commands/unicode_lowercase.h"

namespace tolvek {

bool needsJpegConversion(const std::optional<std::string>& typeIdentifier, const std::string& fileName) {
  const std::string type = lowercased(typeIdentifier.value_or(std::string()));
  if (type.find("heic") != std::string::npos || type.find("heif") != std::string::npos) return true;
  const std::string name = lowercased(fileName);
  return name.ends_with(".heic") || name.ends_with(".heif");
}

std::string convertedFileName(const std::string& fileName) { return splitFileName(fileName).base + ".jpg"; }

}  // namespace tolvek
