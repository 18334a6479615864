#pragma once
// Upright pictures of files at a covering size: shrink-on-load for pictures,
// the first frame for videos.
#include <cstdint>
#include <memory>
#include <string>

#include "library/photo_types.h"
#include "library/picture.h"
#include "platform/media/vips_handle.h"

namespace tolvek::media {

// Pixels in memory, upright, at the smallest size covering `box` (never
// larger than the source), of the regular file at `path`, read no further
// than `maxBytes` (0: its size when opened; a file shorter than a recorded
// `maxBytes` is damaged and renders nothing). Nothing for audio, unreadable
// files and anything but a regular file (a FIFO or device is never waited on).
ImagePtr renderFileToPixels(const std::string& path, std::uint64_t maxBytes, MediaType mediaType, PixelSize box);

// Resizes pixels in memory to cover `box`, never enlarging.
ImagePtr coverPixels(VipsImage* pixels, PixelSize box);

}  // namespace tolvek::media
