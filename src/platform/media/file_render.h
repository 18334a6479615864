#pragma once
// Upright pictures of files at a covering size: shrink-on-load for pictures,
// the first frame for videos.
#include <cstdint>
#include <memory>
#include <string>

#include "library/picture.h"
#include "platform/media/vips_handle.h"

namespace tolvek::media {

// Pixels in memory, upright, at the smallest size covering `box` (never
// larger than the source). Nothing for audio and unreadable files.
ImagePtr renderFileToPixels(const std::string& path, std::int64_t mediaType, PixelSize box);

// Resizes pixels in memory to cover `box`, never enlarging.
ImagePtr coverPixels(VipsImage* pixels, PixelSize box);

}  // namespace tolvek::media
