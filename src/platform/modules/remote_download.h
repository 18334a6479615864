#pragma once
// Downloads of remote originals with libcurl: http and https only, a connect
// timeout, a cap on the body, and a stall rule: a transfer that receives
// nothing for `stallSeconds`, or less than `minimumBytesPerSecond` on average
// over that long, fails. No overall timeout; a transfer can be cancelled.
#include <atomic>
#include <cstdint>
#include <string>

#include "library/status.h"
#include "platform/catalog/content_hash.h"
#include "platform/posix/temporary_files.h"

struct TolvekDownloadTable;

namespace tolvek {

struct DownloadLimits {
  long connectTimeoutSeconds = 30;
  long stallSeconds = 60;
  long minimumBytesPerSecond = 1024;
  // A body longer than this fails as soon as it passes it; 0: no cap.
  std::uint64_t maxBytes = 0;
  // Checked while the transfer runs: once true, it ends with kDownloadCancelled.
  // Owned by the caller, alive until the call returns.
  const std::atomic<bool>* cancelled = nullptr;
};

inline constexpr char kDownloadCancelled[] = "The download was cancelled";
inline constexpr char kDownloadTooLarge[] = "The download is larger than the original";

// Streams the body of `url` into the open file `fd`. The file may hold a part
// of the body after an error; the caller decides what to do with it.
Status downloadToFile(const std::string& url, int fd, const DownloadLimits& limits);

// The table of the download module in the file `fileName` (beside the
// executable; see download_entry.h); nothing when it cannot be loaded or was
// built against another table. downloadToFile opens libtolvek_download.so.
const TolvekDownloadTable* openDownloadModule(const std::string& fileName);
// downloadToFile through `module`; fails saying downloads are not available
// when it is null.
Status downloadThrough(const TolvekDownloadTable* module, const std::string& url, int fd,
                       const DownloadLimits& limits);

// Downloads `url` into `file` (new and empty) and checks the body against
// what the catalog recorded: never more than the recorded size is accepted,
// and a body of another size or hash fails with kNotTheOriginal. Without a
// recorded size the body is capped at `limits.maxBytes`.
Status downloadOriginal(const std::string& url, const ExpectedContent& expected, const TemporaryFile& file,
                        DownloadLimits limits);

}  // namespace tolvek
