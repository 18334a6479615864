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

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// Byte order of the entries' whole paths: a folder's name is followed by
// "/" in every path below it.
template <class E>
bool walkOrder(const E& a, const E& b) {
  const std::size_t n = std::min(a.name.size(), b.name.size());
  if (const int c = std::memcmp(a.name.data(), b.name.data(), n); c != 0) return c < 0;
  const auto after = [n](const E& e) {
    return n < e.name.size() ? static_cast<int>(static_cast<unsigned char>(e.name[n])) : e.folder ? '/' : -1;
  };
  return after(a) < after(b);
}

}  // namespace

SourceWalker::SourceWalker(const std::string& root) {
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  start(fd, "");
}

SourceWalker::SourceWalker(int fd, const std::string& path, int depth, bool shallow)
    : depth_(depth), shallow_(shallow) {
  start(fd, path);
}

void SourceWalker::start(int fd, const std::string& path) {
  WalkStep step;
  bool told = false;
  const bool entered = enter(fd, path, step, told);
  if (!told) {  // a ".nomedia" in a folder below the root: nothing of it is walked
    listed_ = true;
    root_ = {path, 0, false};
    return;
  }
  if (step.kind != WalkStep::Kind::folder) {
    error_ = "cannot be listed";
    return;
  }
  listed_ = true;
  root_ = std::move(step.folder);
  // A ".nomedia" in the root: the root is there, nothing of it is walked.
  if (!entered) root_.empty = false;
}

SourceWalker::~SourceWalker() {
  for (const Frame& frame : frames_) ::close(frame.fd);
}

bool SourceWalker::enter(int fd, const std::string& path, WalkStep& step, bool& told) {
  told = true;
  struct stat info {};
  DIR* dir = nullptr;
  // The descriptor is kept for the entries' own stat calls; a copy is listed.
  const int listing = ::fstat(fd, &info) == 0 ? ::dup(fd) : -1;
  if (listing >= 0 && (dir = ::fdopendir(listing)) == nullptr) ::close(listing);
  std::vector<Entry> entries;
  bool any = false, excluded = false;
  errno = 0;
  while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    any = true;
    if (std::strcmp(name, ".nomedia") == 0) excluded = true;
    if (name[0] == '.') continue;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat child {};
      folder = ::fstatat(fd, name, &child, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(child.st_mode);
      errno = 0;  // what readdir sets is what counts
    }
    entries.push_back({name, folder});
  }
  const bool read = dir != nullptr && errno == 0;
  if (dir != nullptr) ::closedir(dir);
  if (!read || (excluded && !path.empty())) {
    ::close(fd);
    step.kind = WalkStep::Kind::unreadable;
    step.path = path;
    told = !read;
    return false;
  }
  step.kind = WalkStep::Kind::folder;
  step.folder = {path, static_cast<std::uint64_t>(info.st_dev), !any};
  if (excluded) {  // the root itself: nothing of it is walked
    ::close(fd);
    return false;
  }
  std::sort(entries.begin(), entries.end(), walkOrder<Entry>);
  frames_.push_back({fd, path, std::move(entries), 0});
  return true;
}

bool SourceWalker::stepEntry(Frame& frame, WalkStep& step) {
  const Entry& entry = frame.entries[frame.at++];
  std::string child = joined(frame.path, entry.name);
  if (!entry.folder) {
    struct stat info {};
    if (::fstatat(frame.fd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone meanwhile; anything else (an I/O error) leaves what it was unknown.
      if (errno == ENOENT) return false;
      step.kind = WalkStep::Kind::unreadable;
      step.path = std::move(child);
      return true;
    }
    // Links, FIFOs, sockets and devices are not files of the source; nor is
    // a folder put in a file's place since the listing (the next walk's). A
    // link's target is stat'ed (not opened) to tell a link to a folder.
    struct stat target {};
    if (S_ISLNK(info.st_mode) && ::fstatat(frame.fd, entry.name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode)) {
      step.kind = WalkStep::Kind::folderLink;
      step.path = std::move(child);
      return true;
    }
    if (!S_ISREG(info.st_mode)) return false;
    step.kind = WalkStep::Kind::file;
    step.file = {std::move(child), static_cast<std::uint64_t>(info.st_size), modifiedNsOf(info),
                 static_cast<std::uint64_t>(info.st_ino)};
    return true;
  }
  if (shallow_) return false;
  if (static_cast<std::size_t>(depth_) + frames_.size() > static_cast<std::size_t>(kMaxWalkDepth)) {
    step.kind = WalkStep::Kind::tooDeep;
    step.path = std::move(child);
    return true;
  }
  const int sub = ::openat(frame.fd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (sub < 0) {
    // Gone, or replaced by a link or a file meanwhile: not a folder of the source.
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return false;
    step.kind = WalkStep::Kind::unreadable;
    step.path = std::move(child);
    return true;
  }
  bool told = false;
  enter(sub, child, step, told);  // may move `frame`
  return told;
}

bool SourceWalker::next(WalkStep& step) {
  while (!frames_.empty()) {
    Frame& top = frames_.back();
    if (top.at == top.entries.size()) {
      ::close(top.fd);
      frames_.pop_back();
      continue;
    }
    if (stepEntry(top, step)) return true;
  }
  return false;
}

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
  SourceWalker walker(root);
  if (!walker.listed()) {
    walk.error = walker.error();
    return walk;
  }
  walk.listed = true;
  walk.folders.push_back(walker.root());
  WalkStep step;
  while (walker.next(step)) {
    switch (step.kind) {
      case WalkStep::Kind::file: walk.files.push_back(std::move(step.file)); break;
      case WalkStep::Kind::folder: walk.folders.push_back(std::move(step.folder)); break;
      case WalkStep::Kind::unreadable: walk.unreadable.push_back(std::move(step.path)); break;
      case WalkStep::Kind::tooDeep: walk.tooDeep.push_back(std::move(step.path)); break;
      case WalkStep::Kind::folderLink: walk.folderLinks.push_back(std::move(step.path)); break;
    }
  }
  // Files come in path order already; folders enter in their files' order.
  const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
  std::sort(walk.folders.begin(), walk.folders.end(), byPath);
  std::sort(walk.unreadable.begin(), walk.unreadable.end());
  std::sort(walk.tooDeep.begin(), walk.tooDeep.end());
  return walk;
}

}  // namespace tolvek
