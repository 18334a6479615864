#include "commands/file_name_parts.h"

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

}  // namespace tolvek
