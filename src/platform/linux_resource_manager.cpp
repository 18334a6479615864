#include "platform/linux_resource_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace tolvek {
namespace {

std::string errorText(int code) { return std::strerror(code); }

struct WriteJob {
  std::optional<StoredOriginal> source;
  std::string destination;
  bool networkAccessAllowed = false;
  DownloadLimits limits;
};

std::optional<std::string> copyByReadWrite(int in, int out) {
  std::string buffer(1 << 20, '\0');
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got == 0) return std::nullopt;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errorText(errno);
    }
    std::size_t written = 0;
    while (written < static_cast<std::size_t>(got)) {
      const ssize_t n = ::write(out, buffer.data() + written, static_cast<std::size_t>(got) - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errorText(errno);
      if (n == 0) return errorText(ENOSPC);
      written += static_cast<std::size_t>(n);
    }
  }
}

// The kernel's copy; read and write where it cannot copy between the two.
std::optional<std::string> copyLocal(const std::string& sourcePath, int out) {
  const int in = ::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errorText(errno);
  struct stat info {};
  if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int code = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(in);
    return errorText(code);
  }
  std::optional<std::string> error;
  for (;;) {
    const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
    if (copied > 0) continue;
    if (copied == 0) break;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF ||
        errno == EPERM) {
      // Both offsets stand where the kernel stopped; the plain copy goes on from there.
      error = copyByReadWrite(in, out);
      break;
    }
    error = errorText(errno);
    break;
  }
  ::close(in);
  return error;
}

std::optional<std::string> writeResource(const WriteJob& job) {
  if (!job.source) return errorText(ENOENT);
  const StoredOriginal& source = *job.source;
  const bool remote = source.path.empty();
  if (remote && source.url.empty()) return errorText(ENOENT);
  if (remote && !job.networkAccessAllowed)
    return std::string("The original is not on this computer and network access is not allowed");
  // O_EXCL: a file already at the destination is never touched.
  const int out = ::open(job.destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    if (errno == EEXIST) return "A file already exists at " + job.destination;
    return errorText(errno);
  }
  std::optional<std::string> error =
      remote ? downloadToFile(source.url, out, job.limits) : copyLocal(source.path, out);
  if (::close(out) != 0 && !error) error = errorText(errno);
  // Nothing that looks complete stays behind a failed write.
  if (error) ::unlink(job.destination.c_str());
  return error;
}

}  // namespace

LinuxResourceManager::LinuxResourceManager(StoredAssetIndex& index) : LinuxResourceManager(index, {}) {}

LinuxResourceManager::LinuxResourceManager(StoredAssetIndex& index, DownloadLimits limits)
    : index_(index), limits_(limits) {}

void LinuxResourceManager::writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                                     const ResourceRequestOptions& options, Completion completion) {
  struct Work {
    WriteJob job;
    Completion completion;
  };
  auto work = std::make_shared<Work>(
      Work{WriteJob{index_.storedResource(resource), filePath, options.networkAccessAllowed, limits_},
           std::move(completion)});
  const auto run = [](const std::shared_ptr<Work>& owned, std::optional<std::string> error) {
    if (owned->completion) owned->completion(std::move(error));
  };
  try {
    // The worker owns its job and completion; detached so that it never
    // holds up the process's exit.
    std::thread([work, run] { run(work, writeResource(work->job)); }).detach();
  } catch (const std::system_error& failure) {
    run(work, errorText(failure.code().value()));
  }
}

}  // namespace tolvek
