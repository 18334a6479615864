// fuzz-links: tolvek_media tolvek_posix
// Arbitrary bytes through picture decoding: the header and the pixel limit,
// the upright bitmap, and JPEG encoding with and without capture metadata;
// and as a file through exiv2's metadata reader (every format it knows) and,
// when a RAW row recognises it, through LibRaw's probe and render.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "library/media_formats.h"
#include "platform/media/photo_metadata.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {
MediaModule* mediaModuleInstance();  // the module's own, without its C boundary
}

namespace {

int inputFd() {
  static const int fd = ::memfd_create("media-fuzz-input", 0);
  return fd;
}

// The bytes as a regular file in memory, read as the probe reads a file.
void readMetadataOf(std::string_view bytes) {
  const int fd = inputFd();
  if (fd < 0 || ::ftruncate(fd, 0) != 0) return;
  if (!bytes.empty() && ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) return;
  const auto file = tolvek::ReadableFile::open("/proc/self/fd/" + std::to_string(fd));
  if (!file) return;
  const auto metadata = tolvek::media::readPhotoMetadata(*file);
  // A content identifier is printable text of bounded length.
  if (metadata && metadata->contentIdentifier.size() > 128) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tolvek::MediaModule* module = tolvek::media::mediaModuleInstance();
  if (module == nullptr) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  readMetadataOf(bytes);
  if (const tolvek::MediaFormat* format = tolvek::sniffMediaFormat(bytes);
      format != nullptr && format->family == tolvek::FormatFamily::cameraRaw) {
    const std::string path = "/proc/self/fd/" + std::to_string(inputFd());
    (void)module->probe(path);
    const auto thumb = module->renderFile(path, 0, tolvek::MediaType::image, {240, 240}, std::nullopt);
    if (thumb && (thumb->size().width <= 0 || thumb->size().height <= 0)) __builtin_trap();
  }
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
