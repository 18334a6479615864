#pragma once
// The JPEG module's side of its C boundary (jpeg_entry.h): the table of
// entries over one JpegModule of the module's own, which `instance` returns.
// Included only by a module's entry shim.
#include "platform/modules/jpeg_entry.h"
#include "platform/modules/jpeg_module.h"
#include "platform/modules/picture_export.h"

namespace tolvek::module_export {

template <JpegModule* (*instance)()>
const TolvekJpegTable* jpegTable() {
  static const TolvekJpegTable table{
      sizeof(TolvekJpegTable),
      pictureTable(),
      [](const char* jpeg, size_t size, int64_t width, int64_t height) -> TolvekPicture* {
        return guarded<TolvekPicture*>(nullptr, [&] {
          return handOut(instance()->shrink(std::string_view(jpeg, size), PixelSize{width, height}));
        });
      },
  };
  return &table;
}

}  // namespace tolvek::module_export
