// The JPEG module's front end: its C table (jpeg_entry.h) wrapped into the
// JpegModule the helper's image manager calls.
#include "platform/modules/jpeg_module.h"

#include <mutex>

#include "platform/modules/jpeg_entry.h"
#include "platform/modules/module_picture.h"
#include "platform/system/module_loader.h"

namespace tolvek {
namespace {

class ModuleJpeg final : public JpegModule {
 public:
  explicit ModuleJpeg(const TolvekJpegTable& table) : table_(table) {}
  std::unique_ptr<Picture> shrink(std::string_view jpeg, PixelSize size) override {
    return adoptModulePicture(*table_.pictures, table_.shrink(jpeg.data(), jpeg.size(), size.width, size.height));
  }

 private:
  const TolvekJpegTable& table_;
};

}  // namespace

std::unique_ptr<JpegModule> openJpegModule(const std::string& fileName) {
  auto entry = reinterpret_cast<TolvekJpegEntry>(openModuleEntry(fileName, kJpegModuleEntryName));
  const TolvekJpegTable* table = entry != nullptr ? entry() : nullptr;
  if (table == nullptr || table->tableSize != sizeof(TolvekJpegTable)) return nullptr;
  return std::make_unique<ModuleJpeg>(*table);
}

JpegModule* loadJpegModule() {
  static JpegModule* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { module = openJpegModule("libtolvek_jpeg.so").release(); });
  return module;
}

}  // namespace tolvek
