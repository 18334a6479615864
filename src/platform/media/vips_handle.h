#pragma once
// Owning handle of a VipsImage reference.
#include <vips/vips.h>

#include <memory>

namespace tolvek::media {

struct GObjectUnref {
  void operator()(VipsImage* image) const {
    if (image != nullptr) g_object_unref(image);
  }
};
using ImagePtr = std::unique_ptr<VipsImage, GObjectUnref>;

// Forgets the error text libvips keeps per thread, so it never grows.
inline void clearVipsError() { vips_error_clear(); }

}  // namespace tolvek::media
