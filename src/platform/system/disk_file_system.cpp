#include "platform/system/disk_file_system.h"

#include <filesystem>
#include <system_error>

#include "platform/posix/temporary_files.h"

namespace tolvek {
Status DiskFileSystem::createDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!std::filesystem::is_directory(path, error)) {
    return Status::error(error ? error.message() : std::string("Not a directory"));
  }
  // The folder is about to be written into: what writers killed there left
  // (their temporary files) goes first.
  removeAbandonedTemporaryFiles(path);
  return {};
}

std::string DiskFileSystem::currentDirectory() {
  std::error_code error;
  const auto path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

Status DiskFileSystem::replaceFile(const std::string& path, std::string_view bytes) {
  // Mode 0666 less the umask, like any new file.
  return writeFileAtomically(path, bytes, Publish::replace, 0666);
}

}  // namespace tolvek
