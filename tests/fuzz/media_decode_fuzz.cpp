// fuzz-links: tolvek_media
// Arbitrary bytes through picture decoding: the header and the pixel limit,
// the upright bitmap, and JPEG encoding with and without capture metadata.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/modules/media_module.h"

extern "C" tolvek::MediaModule* tolvek_media_module();

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tolvek::MediaModule* module = tolvek_media_module();
  if (module == nullptr) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto picture = module->pictureDecoder().decode(bytes);
  if (!picture) return 0;
  const tolvek::PixelSize size2 = picture->size();
  if (size2.width <= 0 || size2.height <= 0) __builtin_trap();
  // Keep each run small: huge declared sizes are decoded only up to the limit.
  if (size2.width * size2.height > 4'000'000) return 0;
  const auto bitmap = picture->bitmap();
  if (!bitmap) return 0;
  const auto plain = bitmap->jpegRepresentation(0.8, tolvek::JpegMetadata::none);
  const auto kept = bitmap->jpegRepresentation(0.92, tolvek::JpegMetadata::keepCaptureData);
  if (plain) {
    // What was encoded decodes again to the same upright size.
    const auto again = module->pictureDecoder().decode(*plain);
    if (!again || !(again->size() == size2)) __builtin_trap();
  }
  (void)kept;
  return 0;
}
