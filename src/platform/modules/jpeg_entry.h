#pragma once
// The one symbol the JPEG module exports, `tolvek_jpeg_module`: the table of
// its entries, the same on every call. Plain C across the boundary
// (picture_entry.h says why, and who frees what).
#include <stddef.h>
#include <stdint.h>

#include "platform/modules/picture_entry.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TolvekJpegTable {
  // sizeof(TolvekJpegTable) as the module was built (see TolvekMediaTable).
  size_t tableSize;
  const TolvekPictureTable* pictures;
  // JpegModule::shrink: `jpeg` is read during the call only (the picture
  // keeps its own pixels); NULL when it gives nothing or fails. Any thread.
  TolvekPicture* (*shrink)(const char* jpeg, size_t size, int64_t width, int64_t height);
} TolvekJpegTable;

typedef const TolvekJpegTable* (*TolvekJpegEntry)(void);

#ifdef __cplusplus
}
#endif

inline constexpr char kJpegModuleEntryName[] = "tolvek_jpeg_module";
