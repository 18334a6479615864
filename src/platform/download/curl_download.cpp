#include "platform/modules/download_export.h"
#include "platform/modules/remote_download.h"
#include "platform/posix/posix_file.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace tolvek::curl {
namespace {

struct CurlFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

void startCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct FileSink {
  int fd;
  std::uint64_t maxBytes;  // 0: no cap
  std::uint64_t written = 0;
  bool tooLarge = false;
  Status writeError;
};

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  const size_t total = size * count;
  if (sink->maxBytes != 0 && total > sink->maxBytes - sink->written) {
    sink->tooLarge = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  if (Status written = writeAll(sink->fd, std::string_view(data, total)); !written) {
    sink->writeError = std::move(written);
    return 0;
  }
  sink->written += total;
  return total;
}

// Ends a transfer once nothing has arrived for the stall limit, or less than
// the floor's bytes over a whole stall period (libcurl's own low-speed check
// averages over several seconds, so a burst followed by silence would go
// unnoticed for too long), or when the caller cancels.
struct TransferWatch {
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastProgress = Clock::now();
  Clock::time_point periodStart = Clock::now();
  curl_off_t received = 0;
  curl_off_t receivedAtPeriodStart = 0;
  std::chrono::seconds limit;
  curl_off_t floorBytes = 0;  // per period
  int (*cancelled)(void*) = nullptr;
  void* cancelContext = nullptr;
  bool stalled = false;
  bool slow = false;
  bool wasCancelled = false;
};

int watchTransfer(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
  auto* watch = static_cast<TransferWatch*>(user);
  if (watch->cancelled != nullptr && watch->cancelled(watch->cancelContext) != 0) {
    watch->wasCancelled = true;
    return 1;  // aborts the transfer
  }
  const auto now = TransferWatch::Clock::now();
  if (downloaded != watch->received) {
    watch->received = downloaded;
    watch->lastProgress = now;
  } else if (now - watch->lastProgress >= watch->limit) {
    watch->stalled = true;
    return 1;
  }
  if (now - watch->periodStart >= watch->limit) {
    if (downloaded - watch->receivedAtPeriodStart < watch->floorBytes) {
      watch->slow = true;
      return 1;
    }
    watch->periodStart = now;
    watch->receivedAtPeriodStart = downloaded;
  }
  return 0;
}

bool isHttpUrl(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

// Runs a prepared transfer; nullopt on success, else the description.
Status perform(CURL* handle, const std::string& url, const TolvekDownloadLimits& limits) {
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  TransferWatch watch;
  watch.limit = std::chrono::seconds(limits.stallSeconds);
  watch.floorBytes = static_cast<curl_off_t>(limits.minimumBytesPerSecond) * limits.stallSeconds;
  watch.cancelled = limits.cancelled;
  watch.cancelContext = limits.cancelContext;
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watchTransfer);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  const CURLcode result = curl_easy_perform(handle);
  if (result == CURLE_OK) return {};
  if (result == CURLE_HTTP_RETURNED_ERROR) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return Status::error("The server answered " + std::to_string(status));
  }
  if (result == CURLE_ABORTED_BY_CALLBACK && watch.wasCancelled) return Status::error(kDownloadCancelled);
  if (result == CURLE_ABORTED_BY_CALLBACK && watch.stalled)
    return Status::error("The download stalled: nothing received for " + std::to_string(limits.stallSeconds) +
                         " seconds");
  if (result == CURLE_ABORTED_BY_CALLBACK && watch.slow)
    return Status::error("The download stalled: less than " + std::to_string(limits.minimumBytesPerSecond) +
                         " bytes a second for " + std::to_string(limits.stallSeconds) + " seconds");
  if (result == CURLE_FILESIZE_EXCEEDED) return Status::error(kDownloadTooLarge, ErrorCode::tooLarge);
  if (result == CURLE_OPERATION_TIMEDOUT) return Status::error("The server could not be reached in time");
  if (result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING)
    return Status::error("The download broke off before the end");
  return Status::error(message[0] != '\0' ? message : curl_easy_strerror(result));
}

}  // namespace

Status downloadToFile(const std::string& url, int fd, const TolvekDownloadLimits& limits) {
  if (!isHttpUrl(url)) return Status::error("The original's address is not an http or https URL");
  startCurl();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) return Status::error("The download could not be started");
  FileSink sink{fd, limits.maxBytes, 0, false, {}};
  curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink);
  // A body announced as longer than the cap is refused before it is read.
  if (limits.maxBytes != 0)
    curl_easy_setopt(handle.get(), CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
  Status result = perform(handle.get(), url, limits);
  if (result.ok()) return result;
  if (sink.tooLarge) return Status::error(kDownloadTooLarge, ErrorCode::tooLarge);
  if (!sink.writeError.ok()) return sink.writeError;
  return result;
}

}  // namespace tolvek::curl

// The C boundary of download_entry.h over downloadToFile above.
extern "C" __attribute__((visibility("default"))) const TolvekDownloadTable* tolvek_download_module() {
  return tolvek::module_export::downloadTable<tolvek::curl::downloadToFile>();
}
