#include "platform/sources/source_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

struct Entry {
  std::string name;
  unsigned char type;
};

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The entries of the open folder `fd` (which it takes over), or false.
bool listFolder(int fd, std::vector<Entry>& entries) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    entries.push_back({entry->d_name, entry->d_type});
  }
  const bool ok = errno == 0;
  ::closedir(dir);
  return ok;
}

class Walker {
 public:
  explicit Walker(SourceWalk& walk) : walk_(walk) {}

  // Walks the open folder `fd` (taken over) at the relative `path`.
  void folder(int fd, const std::string& path, int depth) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      ::close(fd);
      walk_.unreadable.push_back(path);
      return;
    }
    std::vector<Entry> entries;
    // The descriptor is read again below for the entries' own stat calls.
    const int listing = ::dup(fd);
    if (listing < 0 || !listFolder(listing, entries)) {
      ::close(fd);
      walk_.unreadable.push_back(path);
      return;
    }
    const bool excluded = std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.name == ".nomedia"; });
    if (excluded && !path.empty()) {
      ::close(fd);
      return;
    }
    walk_.folders.push_back({path, static_cast<std::uint64_t>(info.st_dev), entries.empty()});
    if (excluded) {  // the root itself: nothing of it is walked
      ::close(fd);
      return;
    }
    for (const Entry& entry : entries) {
      if (entry.name.starts_with('.')) continue;
      const std::string child = joined(path, entry.name);
      unsigned char type = entry.type;
      struct stat childInfo {};
      bool stated = false;
      if (type == DT_UNKNOWN || type == DT_REG) {
        if (::fstatat(fd, entry.name.c_str(), &childInfo, AT_SYMLINK_NOFOLLOW) != 0) {
          // Gone meanwhile; anything else (a folder that can be listed but
          // not searched, an I/O error) leaves what it was unknown.
          if (errno != ENOENT) walk_.unreadable.push_back(child);
          continue;
        }
        stated = true;
        type = S_ISREG(childInfo.st_mode) ? DT_REG : S_ISDIR(childInfo.st_mode) ? DT_DIR : DT_UNKNOWN;
      }
      if (type == DT_REG && stated) {
        walk_.files.push_back({child, static_cast<std::uint64_t>(childInfo.st_size),
                               modifiedNsOf(childInfo),
                               static_cast<std::uint64_t>(childInfo.st_ino)});
      } else if (type == DT_DIR) {
        if (depth >= kMaxWalkDepth) {
          walk_.tooDeep.push_back(child);
          continue;
        }
        const int sub = ::openat(fd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
          // Gone, or replaced by a link or a file meanwhile: not a folder of the source.
          if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) walk_.unreadable.push_back(child);
          continue;
        }
        folder(sub, child, depth + 1);
      }
      // Links, FIFOs, sockets and devices are not files of the source.
    }
    ::close(fd);
  }

 private:
  SourceWalk& walk_;
};

}  // namespace

std::optional<bool> folderHasEntries(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::nullopt;
  bool entries = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..") {
      entries = true;
      break;
    }
  }
  ::closedir(dir);
  return entries;
}

SourceWalk walkSource(const std::string& root) {
  SourceWalk walk;
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    walk.error = std::strerror(errno);
    return walk;
  }
  Walker(walk).folder(fd, "", 0);
  if (walk.folders.empty() || walk.folders.front().path != "") {
    walk.error = "cannot be listed";
    walk.unreadable.clear();
    walk.tooDeep.clear();
    walk.folders.clear();
    walk.files.clear();
    return walk;
  }
  walk.listed = true;
  const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
  std::sort(walk.files.begin(), walk.files.end(), byPath);
  std::sort(walk.folders.begin(), walk.folders.end(), byPath);
  std::sort(walk.unreadable.begin(), walk.unreadable.end());
  std::sort(walk.tooDeep.begin(), walk.tooDeep.end());
  return walk;
}

}  // namespace tolvek
