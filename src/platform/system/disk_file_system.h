#pragma once
// The real FileSystem: files on the local disk.
#include "library/file_system.h"

namespace tolvek {

class DiskFileSystem final : public FileSystem {
 public:
  Status createDirectories(const std::string& path) override;
  std::string currentDirectory() override;
  Status replaceFile(const std::string& path, std::string_view bytes) override;
};

}  // namespace tolvek
