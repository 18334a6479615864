#pragma once
// The upright JPEG derivatives made at import, so that thumbnails up to
// kDerivativeShortSide pixels a side never need the original.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/stored_asset.h"

namespace tolvek::media {

// The large derivative's short side (or the whole picture when smaller); a
// second one with kSmallDerivativeShortSide is exactly what a 240-pixel
// thumbnail (the usual request) covers, so serving it needs no resizing.
inline constexpr std::int64_t kDerivativeShortSide = 512;
inline constexpr std::int64_t kSmallDerivativeShortSide = 240;
inline constexpr double kDerivativeQuality = kDerivativeQualityPercent / 100.0;

// Files `pathPrefix` + "-240.jpg" and + "-512.jpg", smallest first; empty
// when the source cannot be rendered or a file cannot be written (then none
// is left behind).
std::vector<StoredDerivative> writeDerivatives(const std::string& path, MediaType mediaType,
                                               const std::string& pathPrefix);

}  // namespace tolvek::media
