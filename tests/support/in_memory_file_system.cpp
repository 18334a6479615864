#include "support/in_memory_file_system.h"

namespace tolvek {
namespace {

std::string parentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

InMemoryFileSystem::InMemoryFileSystem(std::string workingDirectory)
    : workingDirectory_(std::move(workingDirectory)) {
  directories_.insert("/");
  addDirectoryLocked(workingDirectory_);
}

void InMemoryFileSystem::addDirectoryLocked(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    directories_.insert(path.substr(0, slash));
  }
  directories_.insert(path);
}

Status InMemoryFileSystem::createDirectories(const std::string& path) {
  std::lock_guard lock(mutex_);
  directoryRequests_.push_back(path);
  if (path.empty() || path[0] != '/') return Status::error("Permission denied");
  // A file or link anywhere along the way stops the creation there.
  std::string prefix;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    prefix = path.substr(0, slash);
    if (files_.count(prefix)) return Status::error("Not a directory");
    directories_.insert(prefix);
    start = slash + 1;
  }
  return {};
}

Status InMemoryFileSystem::checkWritable(const std::string& path, std::size_t size) const {
  if (!directories_.count(parentOf(path))) return Status::error("No such file or directory");
  if (directories_.count(path)) return Status::error("Is a directory");
  if (writeError_) return Status::error(*writeError_);
  if (capacity_) {
    std::size_t used = 0;
    for (const auto& [name, entry] : files_) {
      if (name != path) used += entry.bytes.size();
    }
    if (used + size > *capacity_) return Status::error("No space left on device");
  }
  return {};
}

Status InMemoryFileSystem::replaceFile(const std::string& path, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  ++replaceCalls_;
  if (Status writable = checkWritable(path, bytes.size()); !writable) return writable;
  // The rename replaces a link itself; its target is never touched.
  files_[path] = Entry{std::string(bytes), std::nullopt};
  return {};
}

Status InMemoryFileSystem::writeNewFile(const std::string& path, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (files_.count(path)) return Status::error("File exists");
  if (Status writable = checkWritable(path, bytes.size()); !writable) return writable;
  files_[path] = Entry{std::string(bytes), std::nullopt};
  return {};
}

void InMemoryFileSystem::addFile(const std::string& path, std::string bytes) {
  std::lock_guard lock(mutex_);
  addDirectoryLocked(parentOf(path));
  files_[path] = Entry{std::move(bytes), std::nullopt};
}

void InMemoryFileSystem::addSymlink(const std::string& path, std::string target) {
  std::lock_guard lock(mutex_);
  addDirectoryLocked(parentOf(path));
  files_[path] = Entry{{}, std::move(target)};
}

bool InMemoryFileSystem::isDirectory(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return directories_.count(path) > 0;
}

bool InMemoryFileSystem::isSymlink(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(path);
  return it != files_.end() && it->second.linkTarget.has_value();
}

std::optional<std::string> InMemoryFileSystem::contents(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end() || it->second.linkTarget) return std::nullopt;
  return it->second.bytes;
}

std::vector<std::string> InMemoryFileSystem::filePaths() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& [path, entry] : files_) paths.push_back(path);
  return paths;
}

}  // namespace tolvek
