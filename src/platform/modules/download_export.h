#pragma once
// The download module's side of its C boundary (download_entry.h): the table
// over `download`, the module's own function. A failure, or anything thrown,
// is handed back as TolvekDownloadFailure. Included only by a module's entry
// shim.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "library/status.h"
#include "platform/modules/download_entry.h"

namespace tolvek::module_export {

inline constexpr char kDownloadFailedInside[] = "The download failed inside the download module";

// `message` into `failure`, cut before a UTF-8 character that would not fit.
inline void fail(TolvekDownloadFailure* failure, ErrorCode code, std::string_view message) noexcept {
  failure->code = static_cast<int>(code);
  std::size_t length = std::min(message.size(), sizeof failure->message - 1);
  if (length < message.size()) {
    while (length > 0 && (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(failure->message, message.data(), length);
  failure->message[length] = '\0';
}

template <Status (*download)(const std::string& url, int fd, const TolvekDownloadLimits& limits)>
const TolvekDownloadTable* downloadTable() {
  static const TolvekDownloadTable table{
      sizeof(TolvekDownloadTable),
      [](const char* url, size_t urlSize, int fd, const TolvekDownloadLimits* limits,
         TolvekDownloadFailure* failure) -> int {
        try {
          const Status result = download(std::string(url, urlSize), fd, *limits);
          if (result.ok()) return 1;
          fail(failure, result.code(), result.message());
        } catch (...) {
          fail(failure, ErrorCode::other, kDownloadFailedInside);
        }
        return 0;
      },
  };
  return &table;
}

}  // namespace tolvek::module_export
