#pragma once
// The few file operations that export needs, so tests can inject faults.
#include <string>
#include <string_view>

#include "library/status.h"

namespace tolvek {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates `path` and its missing parents; fails when it is not a folder
  // afterwards.
  virtual Status createDirectories(const std::string& path) = 0;
  // Absolute path of the process's working directory.
  virtual std::string currentDirectory() = 0;
  // Writes `bytes` to a new temporary file beside `path`, then renames it over
  // `path` (a file or symbolic link there is replaced, never followed). On
  // failure nothing is left at `path` that was not there before, and the
  // status says why ("No space left on device").
  virtual Status replaceFile(const std::string& path, std::string_view bytes) = 0;
};

}  // namespace tolvek
