#pragma once
// Which exported pictures become JPEG, and under what name.
#include <optional>
#include <string>

namespace tolvek {

inline constexpr double kConversionQuality = 0.92;

// True when the lower-cased type identifier contains "heic" or "heif", or the
// lower-cased file name ends with ".heic" or ".heif".
bool needsJpegConversion(const std::optional<std::string>& typeIdentifier, const std::string& fileName);

// The file name without its last extension, followed by ".jpg":
// IMG_0042.HEIC gives IMG_0042.jpg, Scan gives Scan.jpg.
std::string convertedFileName(const std::string& fileName);

}  // namespace tolvek
