// Downloads go through the download module (libcurl), opened on the first
// download of the process, over its C boundary (download_entry.h).
#include "platform/modules/remote_download.h"

#include <mutex>

#include "platform/modules/download_entry.h"
#include "platform/system/module_loader.h"

namespace tolvek {
namespace {

constexpr char kUnavailable[] = "Downloads are not available: the download module could not be loaded";

int readCancelled(void* flag) {
  return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_acquire) ? 1 : 0;
}

}  // namespace

const TolvekDownloadTable* openDownloadModule(const std::string& fileName) {
  auto entry = reinterpret_cast<TolvekDownloadEntry>(openModuleEntry(fileName, kDownloadModuleEntryName));
  const TolvekDownloadTable* table = entry != nullptr ? entry() : nullptr;
  if (table == nullptr || table->tableSize != sizeof(TolvekDownloadTable)) return nullptr;
  return table;
}

Status downloadThrough(const TolvekDownloadTable* module, const std::string& url, int fd,
                       const DownloadLimits& limits) {
  if (module == nullptr) return Status::error(kUnavailable);
  const TolvekDownloadLimits passed{limits.connectTimeoutSeconds,
                                    limits.stallSeconds,
                                    limits.minimumBytesPerSecond,
                                    limits.maxBytes,
                                    limits.cancelled != nullptr ? readCancelled : nullptr,
                                    const_cast<std::atomic<bool>*>(limits.cancelled)};
  TolvekDownloadFailure failure{};
  if (module->downloadToFile(url.data(), url.size(), fd, &passed, &failure) != 0) return {};
  return Status::error(failure.message, static_cast<ErrorCode>(failure.code));
}

Status downloadToFile(const std::string& url, int fd, const DownloadLimits& limits) {
  static const TolvekDownloadTable* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { module = openDownloadModule("libtolvek_download.so"); });
  return downloadThrough(module, url, fd, limits);
}

Status downloadOriginal(const std::string& url, const ExpectedContent& expected, const TemporaryFile& file,
                        DownloadLimits limits) {
  if (expected.size) limits.maxBytes = *expected.size;
  if (Status fetched = downloadToFile(url, file.fd(), limits); !fetched) {
    // A body longer than the recorded size is not the original either.
    if (expected.size && fetched.code() == ErrorCode::tooLarge) return Status::error(kNotTheOriginal);
    return fetched;
  }
  return checkContent(file.path(), expected);
}

}  // namespace tolvek
