#pragma once
// The one symbol the media module exports, `tolvek_media_module`: a function
// that starts its libraries on the first call and returns the table of its
// entries (the same table on every call), or NULL when they do not start.
// Plain C across the boundary (picture_entry.h says why, and who frees what).
//
// Strings in: NUL-terminated, read during the call only. Bytes in (`data`,
// `size`): read during the call; the module copies what its picture keeps.
// Results: a probe and a list of derivatives are made by the module and
// freed by the caller through freeProbe / freeDerivatives, exactly once;
// their strings live as long as they do. NULL is "nothing": no picture, not
// a file the module reads, or a failure (no entry throws).
// Threads: every entry may be called from any thread, concurrently.
#include <stddef.h>
#include <stdint.h>

#include "platform/modules/picture_entry.h"

#ifdef __cplusplus
extern "C" {
#endif

// What a file's content says (MediaProbe's fields; the has* flags say
// whether the optional value after them is there).
typedef struct TolvekMediaProbe {
  int mediaType;  // MediaType's number
  const char* uniformTypeIdentifier;
  int hasCreationDate;
  int64_t creationDate;
  int dateFrom;  // MediaProbe::DateFrom's number
  int rejected;
  const char* contentIdentifier;
  int hasDuration;
  double durationSeconds;
} TolvekMediaProbe;

// One derivative written (StoredDerivative's fields).
typedef struct TolvekDerivative {
  const char* path;
  int64_t width;
  int64_t height;
  int hasBytes;
  uint64_t bytes;
  int hasQuality;
  int quality;
  int hasOriginalSize;
  int64_t originalWidth;
  int64_t originalHeight;
} TolvekDerivative;

typedef struct TolvekDerivatives {
  size_t count;
  const TolvekDerivative* items;  // smallest first
} TolvekDerivatives;

typedef struct TolvekMediaTable {
  // sizeof(TolvekMediaTable) as the module was built: a front end refuses a
  // module built against another layout.
  size_t tableSize;
  const TolvekPictureTable* pictures;
  // MediaModule::pictureDecoder().decode.
  TolvekPicture* (*decode)(const char* data, size_t size);
  // MediaModule::renderFile; `hasOriginal` 0: no original size.
  TolvekPicture* (*renderFile)(const char* path, uint64_t maxBytes, int mediaType, int64_t targetWidth,
                               int64_t targetHeight, int hasOriginal, int64_t originalWidth, int64_t originalHeight);
  // MediaModule::probe.
  const TolvekMediaProbe* (*probe)(const char* path, const char* namedPath);
  void (*freeProbe)(const TolvekMediaProbe* probe);
  // MediaModule::makeDerivatives; NULL when it failed (nothing was written
  // that the caller must know of: the files are named by the result only).
  const TolvekDerivatives* (*makeDerivatives)(const char* path, int mediaType, const char* pathPrefix);
  void (*freeDerivatives)(const TolvekDerivatives* derivatives);
} TolvekMediaTable;

typedef const TolvekMediaTable* (*TolvekMediaEntry)(void);

#ifdef __cplusplus
}
#endif

inline constexpr char kMediaModuleEntryName[] = "tolvek_media_module";
