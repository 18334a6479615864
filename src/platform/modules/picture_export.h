#pragma once
// A module's side of the C boundary for pictures (picture_entry.h): C++
// pictures made inside the module, handed out as opaque handles. Included
// only by the modules' entry shims (never by the platform), so each module
// holds its own copy.
#include <memory>
#include <string>
#include <utility>

#include "library/picture.h"
#include "platform/modules/picture_entry.h"

struct TolvekPicture {
  std::unique_ptr<tolvek::Picture> picture;
};
struct TolvekBitmap {
  std::unique_ptr<tolvek::Bitmap> bitmap;
};

namespace tolvek::module_export {

// Runs `body`; `failed` when it throws, so that no exception leaves a module.
template <class T, class Body>
T guarded(T failed, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failed;
  }
}

// The handle of `picture`; NULL for none.
inline TolvekPicture* handOut(std::unique_ptr<Picture> picture) {
  if (!picture) return nullptr;
  return new TolvekPicture{std::move(picture)};
}

inline void pictureSize(const TolvekPicture* picture, int64_t* width, int64_t* height) {
  *width = 0;
  *height = 0;
  guarded(0, [&] {
    const PixelSize size = picture->picture->size();
    *width = size.width;
    *height = size.height;
    return 0;
  });
}

inline TolvekBitmap* pictureBitmap(const TolvekPicture* picture) {
  return guarded<TolvekBitmap*>(nullptr, [&]() -> TolvekBitmap* {
    std::unique_ptr<Bitmap> bitmap = picture->picture->bitmap();
    return bitmap ? new TolvekBitmap{std::move(bitmap)} : nullptr;
  });
}

inline int bitmapJpeg(const TolvekBitmap* bitmap, double quality, int metadata, TolvekBytes* out) {
  *out = TolvekBytes{nullptr, 0, nullptr};
  return guarded(0, [&] {
    const JpegMetadata kept = metadata == kTolvekJpegKeepCaptureData ? JpegMetadata::keepCaptureData : JpegMetadata::none;
    std::optional<std::string> jpeg = bitmap->bitmap->jpegRepresentation(quality, kept);
    if (!jpeg) return 0;
    auto* bytes = new std::string(std::move(*jpeg));
    *out = TolvekBytes{bytes->data(), bytes->size(), bytes};
    return 1;
  });
}

inline void freeBytes(void* owner) { delete static_cast<std::string*>(owner); }
inline void freeBitmap(TolvekBitmap* bitmap) { delete bitmap; }
inline void freePicture(TolvekPicture* picture) { delete picture; }

inline const TolvekPictureTable* pictureTable() {
  static const TolvekPictureTable table{pictureSize, pictureBitmap, bitmapJpeg, freeBytes, freeBitmap, freePicture};
  return &table;
}

}  // namespace tolvek::module_export
