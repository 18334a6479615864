#pragma once
// The media module as the tests reach it: through the loader, like the helper.
#include <gtest/gtest.h>

#include "platform/media_module.h"

namespace tolvek::testing {

inline MediaModule& mediaModule() {
  MediaModule* module = loadMediaModule();
  if (module == nullptr) throw std::runtime_error("the media module did not load");
  return *module;
}

inline std::string samplesDir() { return TOLVEK_SAMPLES_DIR; }

}  // namespace tolvek::testing
