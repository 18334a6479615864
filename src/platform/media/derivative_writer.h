#pragma once
// The upright JPEG derivatives made at import and sync, so that the usual
// thumbnails never need the original, at a small share of its bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/catalog/stored_asset.h"

namespace tolvek::media {

// The small derivative covers kSmallDerivativeShortSide, exactly what a
// 240-pixel thumbnail (the usual request) is, so it is handed over as it
// is; a picture whose short side is smaller keeps its whole picture instead.
// A large one with kDerivativeShortSide is made only for pictures larger
// than that, which are costly to decode; smaller ones decode quickly from
// the original for the rare larger request.
inline constexpr std::int64_t kDerivativeShortSide = 512;
inline constexpr std::int64_t kSmallDerivativeShortSide = 240;
inline constexpr double kDerivativeQuality = kDerivativeQualityPercent / 100.0;

// Files `pathPrefix` + "-240.jpg" (the small one, or the whole picture) and,
// for large pictures, + "-512.jpg", smallest first, each of the size the
// original's upright size gives for its side and recording that size; empty
// when the source cannot be rendered or a file cannot be written (then none
// is left behind).
std::vector<StoredDerivative> writeDerivatives(const std::string& path, MediaType mediaType,
                                               const std::string& pathPrefix);

}  // namespace tolvek::media
