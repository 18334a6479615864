#include "platform/disk_file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace tolvek {
namespace {

std::string errorText(int code) { return std::strerror(code); }

// ".tolvek-<pid>-<n>-<random>.partial" beside `path`: hidden, and never a name
// that the export could choose.
std::string temporaryNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  thread_local std::mt19937 random{std::random_device{}()};
  // The name being replaced is not part of the temporary name, so a name that
  // is itself near the file system's 255-byte limit can still be written.
  return folder + ".tolvek-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(random() % 1000000) + ".partial";
}

bool writeAll(int fd, std::string_view bytes, int* error) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : ENOSPC;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool DiskFileSystem::createDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

std::string DiskFileSystem::currentDirectory() {
  std::error_code error;
  const auto path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

std::optional<std::string> DiskFileSystem::replaceFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return errorText(ENOENT);
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporaryNameBeside(path);
    // Mode 0666 less the umask, like any new file.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errorText(errno);
  }
  if (fd < 0) return errorText(EEXIST);
  int error = 0;
  const bool written = writeAll(fd, bytes, &error);
  if (::close(fd) != 0 && written) error = errno;
  // rename replaces a file or a symbolic link at `path` itself; it never
  // writes through the link.
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return errorText(error);
  }
  return std::nullopt;
}

}  // namespace tolvek
