#include "platform/modules/media_module.h"

#include <mutex>
#include <string>

#include "platform/modules/media_entry.h"
#include "platform/system/module_loader.h"

namespace tolvek {
namespace {

constexpr char kModuleFile[] = "libtolvek_media.so";

MediaModule* openModule() {
  auto entry = reinterpret_cast<MediaModuleEntry>(openModuleEntry(kModuleFile, kMediaModuleEntryName));
  return entry != nullptr ? entry() : nullptr;
}

}  // namespace

MediaModule* loadMediaModule() {
  static MediaModule* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { module = openModule(); });
  return module;
}

}  // namespace tolvek
