#pragma once
// The pictures the media and JPEG modules hand over their C boundary. The
// modules are C++ on the shared libstdc++ (libvips, exiv2 and LibRaw bring
// it), the helper carries its own static copy: so nothing of C++ crosses
// between them, only the plain C types below. Each module's table (see
// media_entry.h, jpeg_entry.h) points at one TolvekPictureTable for the
// pictures it makes.
//
// Ownership: a picture, a bitmap and JPEG bytes are made by the module and
// freed only by the module, through the free function of the table they came
// from, exactly once. A bitmap and its picture are independent: either may
// be freed first.
// Threads: any entry may be called from any thread, also concurrently; one
// handle is used by one thread at a time.
// Failures: no entry throws; each reports failure as its return value.
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opaque; only the module that made them knows what they hold.
typedef struct TolvekPicture TolvekPicture;
typedef struct TolvekBitmap TolvekBitmap;

// Bytes the module made: `data` and `size` stay valid until
// freeBytes(owner) is called by the receiver.
typedef struct TolvekBytes {
  const char* data;
  size_t size;
  void* owner;
} TolvekBytes;

// The values of TolvekPictureTable::jpeg's `metadata` (JpegMetadata's).
enum { kTolvekJpegNoMetadata = 0, kTolvekJpegKeepCaptureData = 1 };

typedef struct TolvekPictureTable {
  // The upright picture's size in pixels (both 0 if it cannot tell).
  void (*size)(const TolvekPicture* picture, int64_t* width, int64_t* height);
  // Its pixels, ready to encode; NULL when they cannot be produced.
  TolvekBitmap* (*bitmap)(const TolvekPicture* picture);
  // JPEG bytes at `quality` (0 to 1): 1 with `out` filled, or 0 (encoding
  // failed, or damage showed while the pixels were read) with `out` empty.
  int (*jpeg)(const TolvekBitmap* bitmap, double quality, int metadata, TolvekBytes* out);
  void (*freeBytes)(void* owner);
  void (*freeBitmap)(TolvekBitmap* bitmap);
  void (*freePicture)(TolvekPicture* picture);
} TolvekPictureTable;

#ifdef __cplusplus
}
#endif
