#pragma once
// The one symbol the download module exports: the table of its functions. The
// module links libcurl, whose dependencies cost more to load than a run that
// downloads nothing should pay, so the platform opens it on first download.
#include <string>

#include "platform/modules/remote_download.h"

namespace tolvek {

struct DownloadModule {
  Status (*downloadToFile)(const std::string& url, int fd, const DownloadLimits& limits);
};

}  // namespace tolvek

inline constexpr char kDownloadModuleEntryName[] = "tolvek_download_module";
using DownloadModuleEntry = const tolvek::DownloadModule* (*)();
