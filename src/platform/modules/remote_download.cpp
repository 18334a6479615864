// Downloads go through the download module (libcurl), opened on the first
// download of the process.
#include "platform/modules/remote_download.h"

#include <mutex>

#include "platform/modules/download_entry.h"
#include "platform/system/module_loader.h"

namespace tolvek {
namespace {

constexpr char kUnavailable[] = "Downloads are not available: the download module could not be loaded";

const DownloadModule* downloadModule() {
  static const DownloadModule* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    if (auto entry = reinterpret_cast<DownloadModuleEntry>(
            openModuleEntry("libtolvek_download.so", kDownloadModuleEntryName))) {
      module = entry();
    }
  });
  return module;
}

}  // namespace

Status downloadToFile(const std::string& url, int fd, const DownloadLimits& limits) {
  const DownloadModule* module = downloadModule();
  if (module == nullptr) return Status::error(kUnavailable);
  return module->downloadToFile(url, fd, limits);
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
