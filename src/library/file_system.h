#pragma once
// The few file operations that export needs, so tests can inject faults.
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates `path` and its missing parents; false when that failed.
  virtual bool createDirectories(const std::string& path) = 0;
  // Absolute path of the process's working directory.
  virtual std::string currentDirectory() = 0;
  // Writes `bytes` to a new temporary file beside `path`, then renames it over
  // `path` (a file or symbolic link there is replaced, never followed). On
  // failure nothing is left at `path` that was not there before. nullopt on
  // success, else a description of the error.
  virtual std::optional<std::string> replaceFile(const std::string& path, std::string_view bytes) = 0;
};

}  // namespace tolvek
