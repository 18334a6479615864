// The media module's entry point: one MediaModule per process, on libvips
// and FFmpeg. Everything else in the process reaches pictures through it.
#include "platform/media/derivative_writer.h"
#include "platform/media/file_render.h"
#include "platform/modules/media_entry.h"
#include "platform/media/media_probe.h"
#include "platform/media/quiet_start.h"
#include "platform/media/vips_picture.h"
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
}  // namespace tolvek::media

extern "C" __attribute__((visibility("default"))) tolvek::MediaModule* tolvek_media_module() {
  if (!tolvek::media::startMediaLibraries()) return nullptr;
  // Never destroyed: pictures handed out may outlive any static teardown order.
  static auto* module = new tolvek::media::VipsMediaModule();
  return module;
}
