#pragma once
// The one symbol the download module exports, `tolvek_download_module`: the
// table of its entries, the same on every call. The module links libcurl,
// whose dependencies cost more to load than a run that downloads nothing
// should pay, so the platform opens it on first download. Plain C across the
// boundary (picture_entry.h says why).
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// DownloadLimits' fields. `cancelled`, when not NULL, is called with
// `cancelContext` from the calling thread while the transfer runs; nonzero
// ends it as cancelled. Both are the caller's, alive until the call returns.
typedef struct TolvekDownloadLimits {
  long connectTimeoutSeconds;
  long stallSeconds;
  long minimumBytesPerSecond;
  uint64_t maxBytes;
  int (*cancelled)(void* cancelContext);
  void* cancelContext;
} TolvekDownloadLimits;

// Why a download failed: ErrorCode's number and the message for the user,
// NUL-terminated, cut at the last whole UTF-8 character that fits (the
// module's messages are far shorter). Owned by the caller.
typedef struct TolvekDownloadFailure {
  int code;
  char message[1024];
} TolvekDownloadFailure;

typedef struct TolvekDownloadTable {
  // sizeof(TolvekDownloadTable) as the module was built (see TolvekMediaTable).
  size_t tableSize;
  // downloadToFile (remote_download.h): `url` (`urlSize` bytes) is read
  // during the call; the body goes to the caller's open `fd`. 1 when it
  // succeeded, else 0 with `failure` filled. Never throws. Any thread.
  int (*downloadToFile)(const char* url, size_t urlSize, int fd, const TolvekDownloadLimits* limits,
                        TolvekDownloadFailure* failure);
} TolvekDownloadTable;

typedef const TolvekDownloadTable* (*TolvekDownloadEntry)(void);

#ifdef __cplusplus
}
#endif

inline constexpr char kDownloadModuleEntryName[] = "tolvek_download_module";
