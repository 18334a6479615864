#pragma once
// A decoded picture as JPEG bytes.
#include <optional>
#include <string>

#include "library/picture.h"

namespace tolvek {

// Reads the picture's size, asks it for a bitmap of that size and encodes the
// bitmap as JPEG at `quality` (0 to 1) carrying `metadata`. Nothing when the
// size is empty, there is no bitmap or the encoding fails.
std::optional<std::string> jpegData(const Picture& picture, double quality,
                                    JpegMetadata metadata = JpegMetadata::none);

}  // namespace tolvek
