#include "platform/posix/path_text.h"

namespace tolvek {

std::string_view folderPart(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view namePart(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isWithinFolder(std::string_view path, std::string_view folder) {
  if (folder.empty()) return true;
  if (folder == "/") return path.starts_with('/');
  return path == folder || (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace tolvek
