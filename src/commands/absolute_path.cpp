#include "commands/absolute_path.h"

#include <string_view>

namespace tolvek {

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

}  // namespace tolvek
