#pragma once
// The first frame of a video, decoded with FFmpeg and turned upright by the
// stream's display matrix.
#include <cstdint>

#include "platform/posix/posix_file.h"

#include "platform/media/vips_handle.h"

namespace tolvek::media {

// An upright 8-bit sRGB image in memory, or nothing when the file holds no
// decodable video frame.
ImagePtr firstVideoFrame(const ReadableFile& file, std::uint64_t maxBytes);

}  // namespace tolvek::media
