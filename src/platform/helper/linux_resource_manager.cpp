#include "platform/helper/linux_resource_manager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/system/poll_main_loop.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"

namespace tolvek {
namespace {

constexpr char kCancelled[] = "The write was cancelled";
// The kernel copies this much per call, so a cancel is seen between calls.
constexpr std::uint64_t kCopyStep = std::uint64_t{16} << 20;
// A local original up to this size is copied on the calling thread: a
// moment's work, where a thread of its own and the wake of the caller's main
// loop would cost more than the copy.
constexpr std::uint64_t kInlineCopyBytes = std::uint64_t{8} << 20;

// Whether the write is a small copy of a regular local file.
bool isSmallLocalCopy(const std::optional<StoredOriginal>& source) {
  if (!source || source->path.empty()) return false;
  if (source->opened) return source->opened->size() <= kInlineCopyBytes;
  struct stat info {};
  return ::stat(source->path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         static_cast<std::uint64_t>(info.st_size) <= kInlineCopyBytes;
}

struct WriteJob {
  std::optional<StoredOriginal> source;
  std::string destination;
  bool networkAccessAllowed = false;
  DownloadLimits limits;
  std::shared_ptr<std::atomic<bool>> cancelled;
};

bool isCancelled(const WriteJob& job) { return job.cancelled->load(std::memory_order_acquire); }

// Copies `length` bytes from offset `at` of `in` by read and write.
Status copyByReadWrite(int in, std::uint64_t at, std::uint64_t length, int out, const WriteJob& job) {
  std::string buffer(1 << 20, '\0');
  while (at < length) {
    if (isCancelled(job)) return Status::error(kCancelled);
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - at));
    const ssize_t got = ::pread(in, buffer.data(), want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errorStatus(errno);
    if (got == 0) return {};  // shrunk since it was opened
    if (Status written = writeAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got))); !written)
      return written;
    at += static_cast<std::uint64_t>(got);
  }
  return {};
}

// The kernel's copy (a reflink where the file system can) of the regular
// file `in`, up to the size it had when opened; read and write where the
// kernel cannot copy between the two. It reads at explicit offsets, so the
// descriptor may be shared.
Status copyLocal(const ReadableFile& in, int out, const WriteJob& job) {
  const std::uint64_t length = in.size();
  off_t at = 0;
  while (static_cast<std::uint64_t>(at) < length) {
    if (isCancelled(job)) return Status::error(kCancelled);
    const std::size_t step =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCopyStep, length - static_cast<std::uint64_t>(at)));
    const ssize_t copied = ::copy_file_range(in.fd(), &at, out, nullptr, step, 0);
    if (copied > 0) continue;
    if (copied == 0) break;  // shrunk since it was opened
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF ||
        errno == EPERM) {
      // The output stands where the kernel stopped; the plain copy goes on from there.
      return copyByReadWrite(in.fd(), static_cast<std::uint64_t>(at), length, out, job);
    }
    return errorStatus(errno);
  }
  return {};
}

Status writeResource(const WriteJob& job) {
  if (!job.source) return errorStatus(ENOENT);
  const StoredOriginal& source = *job.source;
  const bool remote = source.path.empty();
  if (remote && source.url.empty()) return errorStatus(ENOENT);
  if (remote && !job.networkAccessAllowed)
    return Status::error("The original is not on this computer and network access is not allowed");
  // An existing file is never touched; checked first so that no copy is
  // made in vain, and again by the final rename.
  struct stat existing {};
  if (::lstat(job.destination.c_str(), &existing) == 0) return Status::error("A file already exists at " + job.destination);
  // Written under a temporary name in the same folder, so the final name only
  // ever holds a whole file; mode 0666 less the umask, like any new file.
  auto file = TemporaryFile::createBeside(job.destination, 0666);
  if (!file) return file.status();
  DownloadLimits limits = job.limits;
  limits.cancelled = job.cancelled.get();
  Status written;
  if (remote) {
    written = downloadOriginal(source.url, {source.size, source.sha256}, *file, limits);
  } else if (source.opened) {
    // The referenced file checked when the asset was read, never its path
    // again (which may name another file by now).
    written = copyLocal(*source.opened, file->fd(), job);
  } else if (auto in = ReadableFile::open(source.path)) {
    written = copyLocal(*in, file->fd(), job);
  } else {
    written = in.status();
  }
  if (written.ok() && isCancelled(job)) written = Status::error(kCancelled);
  if (!written) return written;  // the temporary file goes with `file`
  return file->publish(job.destination, Publish::neverReplace);
}

}  // namespace

LinuxResourceManager::LinuxResourceManager(StoredAssetIndex& index) : LinuxResourceManager(index, {}) {}

LinuxResourceManager::LinuxResourceManager(StoredAssetIndex& index, DownloadLimits limits)
    : index_(index), limits_(limits) {}

ResourceManager::RequestId LinuxResourceManager::writeDataForAssetResource(const AssetResource& resource,
                                                                          const std::string& filePath,
                                                                          const ResourceRequestOptions& options,
                                                                          Completion completion) {
  struct Work {
    WriteJob job;
    Completion completion;
  };
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  const RequestId request = ++lastRequest_;
  std::optional<StoredOriginal> source = index_.storedResource(resource);
  if (isSmallLocalCopy(source)) {
    const Status written = writeResource(WriteJob{std::move(source), filePath, false, limits_, cancelled});
    if (completion) completion(written);
    return request;
  }
  {
    MutexLock lock(requestsMutex_);
    requests_[request] = cancelled;
  }
  auto work = std::make_shared<Work>(
      Work{WriteJob{std::move(source), filePath, options.networkAccessAllowed, limits_, cancelled},
           std::move(completion)});
  const auto run = [](const std::shared_ptr<Work>& owned, const Status& result) {
    if (!owned->completion) return;
    owned->completion(result);
  };
  try {
    // The worker owns its job and completion; detached so that it never
    // holds up the process's exit (its temporary file is removed then).
    // The main loop is woken once the completion ran, so a host waiting in
    // it learns at once instead of at the end of its slice.
    std::thread([work, run] {
      run(work, writeResource(work->job));
      wakeMainLoop();
    }).detach();
  } catch (const std::system_error& failure) {
    run(work, errorStatus(failure.code().value()));
  }
  return request;
}

void LinuxResourceManager::cancelDataRequest(RequestId request) {
  MutexLock lock(requestsMutex_);
  const auto found = requests_.find(request);
  if (found == requests_.end()) return;
  found->second->store(true, std::memory_order_release);
  requests_.erase(found);
}

}  // namespace tolvek
