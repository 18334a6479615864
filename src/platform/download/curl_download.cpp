#include "platform/download/download_entry.h"

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
  int writeError = 0;
};

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  const size_t total = size * count;
  size_t written = 0;
  while (written < total) {
    const ssize_t n = ::write(sink->fd, data + written, total - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      sink->writeError = n < 0 ? errno : ENOSPC;
      return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
    }
    written += static_cast<size_t>(n);
  }
  return total;
}

struct MemorySink {
  std::string body;
  std::uint64_t limit;
  bool tooLarge = false;
};

size_t writeToMemory(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<MemorySink*>(user);
  const size_t total = size * count;
  if (sink->body.size() + total > sink->limit) {
    sink->tooLarge = true;
    return 0;
  }
  sink->body.append(data, total);
  return total;
}

// Ends a transfer once nothing has arrived for the stall limit (libcurl's own
// low-speed check averages over several seconds, so a burst followed by
// silence would go unnoticed for too long).
struct StallWatch {
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  curl_off_t received = 0;
  std::chrono::seconds limit;
  bool stalled = false;
};

int watchProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
  auto* watch = static_cast<StallWatch*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (downloaded != watch->received) {
    watch->received = downloaded;
    watch->lastProgress = now;
    return 0;
  }
  if (now - watch->lastProgress >= watch->limit) {
    watch->stalled = true;
    return 1;  // aborts the transfer
  }
  return 0;
}

bool isHttpUrl(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

// Runs a prepared transfer; nullopt on success, else the description.
std::optional<std::string> perform(CURL* handle, const std::string& url, const DownloadLimits& limits) {
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  StallWatch watch;
  watch.limit = std::chrono::seconds(limits.stallSeconds);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watchProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  const CURLcode result = curl_easy_perform(handle);
  if (result == CURLE_OK) return std::nullopt;
  if (result == CURLE_HTTP_RETURNED_ERROR) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return "The server answered " + std::to_string(status);
  }
  if (result == CURLE_ABORTED_BY_CALLBACK && watch.stalled)
    return "The download stalled: nothing received for " + std::to_string(limits.stallSeconds) + " seconds";
  if (result == CURLE_OPERATION_TIMEDOUT) return std::string("The server could not be reached in time");
  if (result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING)
    return std::string("The download broke off before the end");
  return std::string(message[0] != '\0' ? message : curl_easy_strerror(result));
}

}  // namespace

std::optional<std::string> downloadToFile(const std::string& url, int fd, const DownloadLimits& limits) {
  if (!isHttpUrl(url)) return std::string("The original's address is not an http or https URL");
  startCurl();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) return std::string("The download could not be started");
  FileSink sink{fd};
  curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink);
  auto error = perform(handle.get(), url, limits);
  if (error && sink.writeError != 0) return std::string(std::strerror(sink.writeError));
  return error;
}

std::optional<std::string> downloadToMemory(const std::string& url, const DownloadLimits& limits,
                                            std::string* error) {
  const auto fail = [error](std::string text) -> std::optional<std::string> {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
  };
  if (!isHttpUrl(url)) return fail("The original's address is not an http or https URL");
  startCurl();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) return fail("The download could not be started");
  MemorySink sink{{}, limits.maxMemoryBytes};
  curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, writeToMemory);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink);
  if (auto failure = perform(handle.get(), url, limits)) {
    return fail(sink.tooLarge ? std::string("The original is too large to hold in memory") : *failure);
  }
  return std::move(sink.body);
}

}  // namespace tolvek::curl

extern "C" __attribute__((visibility("default"))) const tolvek::DownloadModule* tolvek_download_module() {
  static const tolvek::DownloadModule module{tolvek::curl::downloadToFile, tolvek::curl::downloadToMemory};
  return &module;
}
