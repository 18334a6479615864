#include "platform/posix/path_text.h"

#include <cstdlib>
#include <filesystem>

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

std::string plainAbsolutePath(const std::string& path) {
  if (path.empty()) return {};
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string plain = fs::absolute(fs::path(path), ec).lexically_normal().string();
  if (ec) plain = fs::path(path).lexically_normal().string();
  while (plain.size() > 1 && plain.ends_with('/')) plain.pop_back();
  return plain;
}

std::optional<std::string> realPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string text(resolved);
  std::free(resolved);
  return text;
}

}  // namespace tolvek
