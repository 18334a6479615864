#include "platform/posix/make_folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace tolvek {
namespace {

// Makes the one folder `path` unless something is there; true when a folder is.
bool makeFolder(const std::string& path, mode_t mode) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (::stat(path.c_str(), &info) != 0) return false;
  }
  if (S_ISDIR(info.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace

bool makeFolders(const std::string& path, mode_t mode) {
  if (path.empty()) {
    errno = EINVAL;
    return false;
  }
  // Every step from the first: "/a/b" makes "/a", then "/a/b".
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;  // "//" names the same folder as "/"
    if (!makeFolder(path.substr(0, slash), mode)) return false;
  }
  return makeFolder(path, mode);
}

}  // namespace tolvek
