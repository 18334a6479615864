#pragma once
// The one symbol the download module exports: the table of its functions. The
// module links libcurl, whose dependencies cost more to load than a run that
// downloads nothing should pay, so the platform opens it on first download.
#include <optional>
#include <string>

#include "platform/remote_download.h"

namespace tolvek {

struct DownloadModule {
  std::optional<std::string> (*downloadToFile)(const std::string& url, int fd, const DownloadLimits& limits);
  std::optional<std::string> (*downloadToMemory)(const std::string& url, const DownloadLimits& limits,
                                                 std::string* error);
};

}  // namespace tolvek

inline constexpr char kDownloadModuleEntryName[] = "tolvek_download_module";
using DownloadModuleEntry = const tolvek::DownloadModule* (*)();
