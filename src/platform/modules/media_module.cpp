// The media module's front end: its C table (media_entry.h) wrapped into the
// MediaModule the rest of the platform calls.
#include "platform/modules/media_module.h"

#include <mutex>
#include <string>

#include "platform/modules/media_entry.h"
#include "platform/modules/module_picture.h"
#include "platform/system/module_loader.h"

namespace tolvek {
namespace {

constexpr char kModuleFile[] = "libtolvek_media.so";

class ModuleDecoder final : public PictureDecoder {
 public:
  explicit ModuleDecoder(const TolvekMediaTable& table) : table_(table) {}
  std::unique_ptr<Picture> decode(std::string_view data) override {
    return adoptModulePicture(*table_.pictures, table_.decode(data.data(), data.size()));
  }

 private:
  const TolvekMediaTable& table_;
};

MediaProbe probeOf(const TolvekMediaProbe& c) {
  MediaProbe probe;
  probe.mediaType = static_cast<MediaType>(c.mediaType);
  probe.uniformTypeIdentifier = c.uniformTypeIdentifier;
  if (c.hasCreationDate != 0) probe.creationDate = c.creationDate;
  probe.dateFrom = static_cast<MediaProbe::DateFrom>(c.dateFrom);
  probe.rejected = c.rejected != 0;
  probe.contentIdentifier = c.contentIdentifier;
  if (c.hasDuration != 0) probe.durationSeconds = c.durationSeconds;
  return probe;
}

StoredDerivative derivativeOf(const TolvekDerivative& c) {
  StoredDerivative derivative;
  derivative.path = c.path;
  derivative.width = c.width;
  derivative.height = c.height;
  if (c.hasBytes != 0) derivative.bytes = c.bytes;
  if (c.hasQuality != 0) derivative.quality = c.quality;
  if (c.hasOriginalSize != 0) derivative.originalSize = PixelSize{c.originalWidth, c.originalHeight};
  return derivative;
}

class ModuleMedia final : public MediaModule {
 public:
  explicit ModuleMedia(const TolvekMediaTable& table) : table_(table), decoder_(table) {}

  PictureDecoder& pictureDecoder() override { return decoder_; }

  std::unique_ptr<Picture> renderFile(const std::string& path, std::uint64_t maxBytes, MediaType mediaType,
                                      PixelSize target, std::optional<PixelSize> original) override {
    const PixelSize from = original.value_or(PixelSize{});
    return adoptModulePicture(*table_.pictures,
                              table_.renderFile(path.c_str(), maxBytes, static_cast<int>(mediaType), target.width,
                                                target.height, original.has_value(), from.width, from.height));
  }

  std::optional<MediaProbe> probe(const std::string& path, const std::string& namedPath) override {
    const TolvekMediaProbe* probe = table_.probe(path.c_str(), namedPath.c_str());
    if (probe == nullptr) return std::nullopt;
    std::unique_ptr<const TolvekMediaProbe, void (*)(const TolvekMediaProbe*)> held(probe, table_.freeProbe);
    return probeOf(*probe);
  }

  std::vector<StoredDerivative> makeDerivatives(const std::string& path, MediaType mediaType,
                                                const std::string& pathPrefix) override {
    const TolvekDerivatives* made =
        table_.makeDerivatives(path.c_str(), static_cast<int>(mediaType), pathPrefix.c_str());
    if (made == nullptr) return {};
    std::unique_ptr<const TolvekDerivatives, void (*)(const TolvekDerivatives*)> held(made, table_.freeDerivatives);
    std::vector<StoredDerivative> derivatives;
    derivatives.reserve(made->count);
    for (std::size_t i = 0; i < made->count; ++i) derivatives.push_back(derivativeOf(made->items[i]));
    return derivatives;
  }

 private:
  const TolvekMediaTable& table_;
  ModuleDecoder decoder_;
};

}  // namespace

std::unique_ptr<MediaModule> openMediaModule(const std::string& fileName) {
  auto entry = reinterpret_cast<TolvekMediaEntry>(openModuleEntry(fileName, kMediaModuleEntryName));
  const TolvekMediaTable* table = entry != nullptr ? entry() : nullptr;
  if (table == nullptr || table->tableSize != sizeof(TolvekMediaTable)) return nullptr;
  return std::make_unique<ModuleMedia>(*table);
}

MediaModule* loadMediaModule() {
  static MediaModule* module = nullptr;
  static std::once_flag once;
  // Never destroyed: pictures handed out may outlive any static teardown order.
  std::call_once(once, [] { module = openMediaModule(kModuleFile).release(); });
  return module;
}

}  // namespace tolvek
