#pragma once
// `thumbs`: a JPEG thumbnail of each chosen asset as a data URL.
#include <cstdint>
#include <string>
#include <vector>

#include "commands/document.h"
#include "library/photo_library.h"

namespace tolvek {

// The smallest and largest thumbnail side the command asks for.
inline constexpr std::int64_t kThumbnailMinimumSide = 64;
inline constexpr std::int64_t kThumbnailMaximumSide = 1024;
inline constexpr double kThumbnailQuality = 0.8;

// {"thumbs": {localIdentifier: "data:image/jpeg;base64,...", ...}}: one
// member per asset of `ids` whose picture for a square of `size` (bounded to
// 64..1024, aspect fill) came out as JPEG; the rest are left out silently.
ResultDocument cmdThumbs(PhotoLibrary& library, std::int64_t size, const std::vector<std::string>& ids);

}  // namespace tolvek
