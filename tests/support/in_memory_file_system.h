#pragma once
// A file system in memory for export: directories, files and symbolic links
// by absolute path, with injectable faults. Thread-safe, since resource
// writes may land from another thread.
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "library/file_system.h"

namespace tolvek {

class InMemoryFileSystem final : public FileSystem {
 public:
  // `workingDirectory` exists from the start, with its parents.
  explicit InMemoryFileSystem(std::string workingDirectory = "/home/user");

  Status createDirectories(const std::string& path) override;
  std::string currentDirectory() override { return locked(workingDirectory_); }
  Status replaceFile(const std::string& path, std::string_view bytes) override;
  // What a resource write does: creates `path`, refusing one that exists.
  Status writeNewFile(const std::string& path, std::string_view bytes);

  // Set-up.
  // Changes the working directory (which need not exist).
  void setCurrentDirectory(std::string path) { set(workingDirectory_, std::move(path)); }
  void addFile(const std::string& path, std::string bytes);
  void addSymlink(const std::string& path, std::string target);
  // Faults: every write fails with `error`; files may hold at most `bytes`
  // in total ("No space left on device").
  void failWritesWith(std::optional<std::string> error) { set(writeError_, std::move(error)); }
  void setCapacity(std::size_t bytes) { set(capacity_, std::optional<std::size_t>(bytes)); }

  // What tests look at.
  bool isDirectory(const std::string& path) const;
  bool isSymlink(const std::string& path) const;
  // A regular file's bytes; nothing for a missing path, directory or link.
  std::optional<std::string> contents(const std::string& path) const;
  // Every file and link, sorted.
  std::vector<std::string> filePaths() const;
  std::size_t replaceCalls() const { return locked(replaceCalls_); }
  std::vector<std::string> directoryRequests() const { return locked(directoryRequests_); }

 private:
  struct Entry {
    std::string bytes;
    std::optional<std::string> linkTarget;
  };
  Status checkWritable(const std::string& path, std::size_t size) const;
  void addDirectoryLocked(const std::string& path);
  template <class T>
  T locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }
  template <class T>
  void set(T& field, T value) {
    std::lock_guard lock(mutex_);
    field = std::move(value);
  }

  mutable std::mutex mutex_;
  std::string workingDirectory_;
  std::set<std::string> directories_;
  std::map<std::string, Entry> files_;
  std::optional<std::string> writeError_;
  std::optional<std::size_t> capacity_;
  std::size_t replaceCalls_ = 0;
  std::vector<std::string> directoryRequests_;
};

}  // namespace tolvek
