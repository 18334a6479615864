#pragma once
// JPEG bytes as a data URL (RFC 2397).
#include <string>
#include <string_view>

namespace tolvek {

inline constexpr std::string_view kJpegDataUrlPrefix = "data:image/jpeg;base64,";

// "data:image/jpeg;base64," followed by the standard, padded Base64 of
// `jpeg` (RFC 4648) on one line.
std::string jpegDataUrl(std::string_view jpeg);

}  // namespace tolvek
