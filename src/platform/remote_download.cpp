// Downloads go through the download module (libcurl), opened on the first
// download of the process.
#include "platform/remote_download.h"

#include <mutex>

#include "platform/download/download_entry.h"
#include "platform/module_loader.h"

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

std::optional<std::string> downloadToFile(const std::string& url, int fd, const DownloadLimits& limits) {
  const DownloadModule* module = downloadModule();
  if (module == nullptr) return std::string(kUnavailable);
  return module->downloadToFile(url, fd, limits);
}

std::optional<std::string> downloadToMemory(const std::string& url, const DownloadLimits& limits,
                                            std::string* error) {
  const DownloadModule* module = downloadModule();
  if (module == nullptr) {
    if (error != nullptr) *error = kUnavailable;
    return std::nullopt;
  }
  return module->downloadToMemory(url, limits, error);
}

}  // namespace tolvek
