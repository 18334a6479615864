// The media module's entry point: one MediaModule per process, on libvips
// and FFmpeg, handed over the C boundary of media_entry.h. Everything else in
// the process reaches pictures through it.
#include "platform/media/derivative_writer.h"
#include "platform/media/file_render.h"
#include "platform/media/media_probe.h"
#include "platform/media/quiet_start.h"
#include "platform/media/vips_picture.h"
#include "platform/modules/media_export.h"
#include "platform/modules/media_module.h"

namespace tolvek::media {
namespace {

class VipsMediaModule final : public MediaModule {
 public:
  PictureDecoder& pictureDecoder() override { return decoder_; }

  std::unique_ptr<Picture> renderFile(const std::string& path, std::uint64_t maxBytes, MediaType mediaType,
                                      PixelSize target, std::optional<PixelSize> original) override {
    RenderedFile rendered = renderFileToPixels(path, maxBytes, mediaType, target, original);
    if (!rendered.pixels) return nullptr;
    return std::make_unique<VipsPicture>(std::move(rendered.pixels), nullptr);
  }

  std::optional<MediaProbe> probe(const std::string& path, const std::string& namedPath) override {
    return probeMedia(path, namedPath);
  }

  std::vector<StoredDerivative> makeDerivatives(const std::string& path, MediaType mediaType,
                                                const std::string& pathPrefix) override {
    return writeDerivatives(path, mediaType, pathPrefix);
  }

 private:
  VipsPictureDecoder decoder_;
};

}  // namespace

// The module's own instance, for the shim below and for code linked with the
// module directly (the decoding fuzzer); nothing when libvips does not start.
MediaModule* mediaModuleInstance() {
  static MediaModule* const module = startMediaLibraries() ? new VipsMediaModule() : nullptr;
  // Never destroyed: pictures handed out may outlive any static teardown order.
  return module;
}

}  // namespace tolvek::media

extern "C" __attribute__((visibility("default"))) const TolvekMediaTable* tolvek_media_module() {
  return tolvek::module_export::guarded<const TolvekMediaTable*>(nullptr, []() -> const TolvekMediaTable* {
    if (tolvek::media::mediaModuleInstance() == nullptr) return nullptr;
    return tolvek::module_export::mediaTable<tolvek::media::mediaModuleInstance>();
  });
}
