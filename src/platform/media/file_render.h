#pragma once
// Upright pictures of files at a covering size: shrink-on-load for pictures,
// the first frame for videos.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "library/photo_types.h"
#include "library/picture.h"
#include "platform/media/vips_handle.h"

namespace tolvek::media {

struct RenderedFile {
  ImagePtr pixels;     // nothing when the file cannot be rendered
  PixelSize upright{};  // the file's own upright size (a video's frame)
};

// Pixels in memory, upright, at the smallest size covering `box` (never
// larger than the source), of the regular file at `path`, read no further
// than `maxBytes` (0: its size when opened; a file shorter than a recorded
// `maxBytes` is damaged and renders nothing). Nothing for audio, unreadable
// files and anything but a regular file (a FIFO or device is never waited on).
// `original`, for a smaller copy of a picture (a derivative), is that
// picture's upright size: the covering size is computed from it, exactly as
// for the picture itself, whenever the copy is large enough to give it.
// The pixels keep their colour profile (encodeJpeg converts them when it
// drops it).
RenderedFile renderFileToPixels(const std::string& path, std::uint64_t maxBytes, MediaType mediaType, PixelSize box,
                                std::optional<PixelSize> original = std::nullopt);

// The size `box` asks of a file of `upright` pixels: when the file is a
// smaller copy of a picture of `original` pixels, the size that picture
// gives (unless the copy is too small to give it).
PixelSize coverFor(PixelSize upright, PixelSize box, std::optional<PixelSize> original);

// Pixels in memory resized to exactly `size` (never larger than they are).
ImagePtr resizedPixels(VipsImage* pixels, PixelSize size);

// Resizes pixels in memory to cover `box`, never enlarging.
ImagePtr coverPixels(VipsImage* pixels, PixelSize box);

}  // namespace tolvek::media
