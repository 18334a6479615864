#pragma once
// Downloads of remote originals with libcurl: http and https only, a connect
// timeout, a stall limit (a transfer that receives nothing for that long
// fails) and no overall timeout.
#include <cstdint>
#include <optional>
#include <string>

namespace tolvek {

struct DownloadLimits {
  long connectTimeoutSeconds = 30;
  long stallSeconds = 60;
  // Largest body kept in memory by downloadToMemory.
  std::uint64_t maxMemoryBytes = std::uint64_t{2} << 30;
};

// Streams the body of `url` into the open file `fd`. nullopt on success, else
// a description ("The server answered 404", ...). The file may hold a part
// of the body after an error; the caller decides what to do with it.
std::optional<std::string> downloadToFile(const std::string& url, int fd, const DownloadLimits& limits);

// The whole body of `url`, or the error description in `error`.
std::optional<std::string> downloadToMemory(const std::string& url, const DownloadLimits& limits,
                                            std::string* error = nullptr);

}  // namespace tolvek
