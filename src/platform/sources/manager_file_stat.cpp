#include "platform/sources/manager_file_stat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <thread>

#include "platform/posix/path_text.h"
#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

// One folder open for lookups (O_PATH), closed when another is opened in
// its place and when this goes.
class OpenFolder {
 public:
  OpenFolder() = default;
  ~OpenFolder() { close(); }
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  // Holds `path` ("" the root) open, opening it unless it is the one held
  // (a folder that could not be opened is tried again).
  void hold(std::string_view path) {
    if (fd_ >= 0 && path == path_) return;
    close();
    path_ = path;
    fd_ = ::open(("/" + path_).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  // The file `name` in the folder held, not followed when it is a link.
  std::optional<struct stat> stat(const char* name) const {
    struct stat info {};
    if (fd_ < 0 || ::fstatat(fd_, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return info;
  }

 private:
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string path_;
  int fd_ = -1;
};

// Stats assets [begin, end) into `found`. Each file is looked up from its
// folder, opened once for a run of files in it (a database lists a folder's
// files together), so that a lookup walks one name rather than the whole
// path.
void statRange(const std::vector<ManagerAsset>& assets, std::size_t begin, std::size_t end,
               std::vector<std::optional<WalkedFile>>& found) {
  OpenFolder folder;
  for (std::size_t i = begin; i < end; ++i) {
    std::string relative = managerRelativePath(assets[i].path);
    if (relative.empty()) continue;
    folder.hold(folderPart(relative));
    const std::string name(namePart(relative));
    const std::optional<struct stat> info = folder.stat(name.c_str());
    if (!info || !S_ISREG(info->st_mode)) continue;
    found[i] = WalkedFile{std::move(relative), static_cast<std::uint64_t>(info->st_size), modifiedNsOf(*info),
                          static_cast<std::uint64_t>(info->st_ino)};
  }
}

}  // namespace

std::string managerRelativePath(const std::string& path) {
  if (!path.starts_with('/')) return {};
  std::string relative;
  std::size_t start = 1;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part(path.data() + start, end - start);
    if (part == "." || part == ".." || part.find('\0') != std::string_view::npos) return {};
    if (!part.empty()) {
      if (!relative.empty()) relative += '/';
      relative += part;
    }
    start = end + 1;
  }
  return relative;
}

// On two threads, as the lookups of 100,000 paths are most of a sync with
// nothing new; each writes its own half of the results.
std::vector<std::optional<WalkedFile>> statManagerFiles(const std::vector<ManagerAsset>& assets) {
  std::vector<std::optional<WalkedFile>> found(assets.size());
  const std::size_t half = assets.size() / 2;
  std::thread other([&] { statRange(assets, half, assets.size(), found); });
  statRange(assets, 0, half, found);
  other.join();
  return found;
}

}  // namespace tolvek
