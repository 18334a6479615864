#pragma once
// The media module as the tests reach it: through the loader, like the helper.
#include <gtest/gtest.h>

#include "platform/modules/media_module.h"

namespace tolvek::testing {

inline MediaModule& mediaModule() {
  MediaModule* module = loadMediaModule();
  if (module == nullptr) throw std::runtime_error("the media module did not load");
  return *module;
}

inline std::string samplesDir() { return TOLVEK_SAMPLES_DIR; }

// The picture's bitmap as JPEG; empty when it has none or it does not encode.
inline std::string jpegOf(const Picture& picture, double quality = 0.8, JpegMetadata metadata = JpegMetadata::none) {
  const auto bitmap = picture.bitmap();
  return bitmap ? bitmap->jpegRepresentation(quality, metadata).value_or("") : "";
}

}  // namespace tolvek::testing
