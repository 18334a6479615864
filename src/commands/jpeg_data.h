#pragma once
// Decoded pictures as JPEG bytes, and JPEG bytes as a data URL (RFC 2397).
#include <optional>
#include <string>
#include <string_view>

#include "library/picture.h"

namespace tolvek {

inline constexpr std::string_view kJpegDataUrlPrefix = "data:image/jpeg;base64,";

// Decodes the picture's pixels at the size it has (size() is checked first,
// so an empty picture is never decoded) and encodes them as JPEG at
// `quality` (0 to 1) carrying `metadata`. Nothing when the size is empty,
// the pixels cannot be produced or the encoding fails.
std::optional<std::string> jpegData(const Picture& picture, double quality,
                                    JpegMetadata metadata = JpegMetadata::none);

// "data:image/jpeg;base64," followed by the standard, padded Base64 of
// `jpeg` (RFC 4648) on one line.
std::string jpegDataUrl(std::string_view jpeg);

}  // namespace tolvek
