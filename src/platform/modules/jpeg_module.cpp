#include "platform/modules/jpeg_module.h"

#include <mutex>

#include "platform/system/module_loader.h"

namespace tolvek {

JpegModule* loadJpegModule() {
  static JpegModule* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    auto entry = reinterpret_cast<JpegModuleEntry>(openModuleEntry("libtolvek_jpeg.so", kJpegModuleEntryName));
    module = entry != nullptr ? entry() : nullptr;
  });
  return module;
}

}  // namespace tolvek
