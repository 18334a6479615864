#pragma once
// Files the process writes under a temporary name and then renames to the
// name the user sees, so that name holds a whole file or nothing. Every such
// file is registered while it exists: when the process exits normally, or
// ends by SIGTERM, SIGHUP or SIGINT, the files still registered are removed.
// After SIGKILL they stay; their name carries the writer's process
// identifier, so removeAbandonedTemporaryFiles can clear them later.
#include <sys/types.h>

#include <string>

#include "library/status.h"

namespace tolvek {

// Removes the registered files at exit and on SIGTERM, SIGHUP and SIGINT,
// after which the process ends by the same signal with its default action.
// Call once, early, from the main thread; later calls do nothing.
void installTemporaryFileCleanup();

// Removes the files in `folder` that a TemporaryFile of a process that no
// longer runs left there (a writer killed with SIGKILL). Never follows links
// and leaves every other file alone.
void removeAbandonedTemporaryFiles(const std::string& folder);

enum class Publish { replace, neverReplace };

// A new, empty file ".tolvek-<pid>-<n>-<random>.partial" in a folder: hidden,
// and never a name that a user's file or an export would have. Owns the
// descriptor and the file until published; destroyed unpublished, it removes
// the file. Move-only; may be used and destroyed on any thread.
class TemporaryFile {
 public:
  // `folder` empty means the working directory. Mode `mode` less the umask.
  static Result<TemporaryFile> createIn(const std::string& folder, mode_t mode = 0666);
  // In the folder of `path`.
  static Result<TemporaryFile> createBeside(const std::string& path, mode_t mode = 0666);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Closes the file and renames it to `path`. With neverReplace an existing
  // file (or link) at `path` is left alone and the publish fails with
  // "A file already exists at <path>". On failure the temporary is removed.
  Status publish(const std::string& path, Publish mode);

 private:
  TemporaryFile(int fd, std::string path, int slot) : fd_(fd), path_(std::move(path)), slot_(slot) {}
  void discard();
  int fd_ = -1;
  std::string path_;
  int slot_ = -1;
};

// Writes `bytes` to `path` through a TemporaryFile beside it.
Status writeFileAtomically(const std::string& path, std::string_view bytes, Publish mode, mode_t fileMode = 0666);

}  // namespace tolvek
