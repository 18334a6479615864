#pragma once
// The upright JPEG derivatives made at import and sync, so that the usual
// thumbnails never need the original, at a small share of its bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/catalog/stored_asset.h"
#include "platform/modules/media_module.h"

namespace tolvek::media {

// The sides of the derivatives are media_module.h's kSmallDerivativeShortSide
// and kDerivativeShortSide.
inline constexpr double kDerivativeQuality = kDerivativeQualityPercent / 100.0;

// Files `pathPrefix` + "-240.jpg" (the small one, or the whole picture) and,
// for large pictures, + "-512.jpg" (each suffix its side), smallest first, each of the size the
// original's upright size gives for its side and recording that size; empty
// when the source cannot be rendered or a file cannot be written (then none
// is left behind).
std::vector<StoredDerivative> writeDerivatives(const std::string& path, MediaType mediaType,
                                               const std::string& pathPrefix);

}  // namespace tolvek::media
