#include "library/cover_size.h"

#include <algorithm>
#include <cmath>

namespace tolvek {

PixelSize coverSize(PixelSize source, PixelSize box) {
  if (source.width <= 0 || source.height <= 0 || box.width <= 0 || box.height <= 0) return source;
  const double scale = std::max(static_cast<double>(box.width) / static_cast<double>(source.width),
                                static_cast<double>(box.height) / static_cast<double>(source.height));
  if (scale >= 1.0) return source;
  const auto scaled = [scale](std::int64_t side) {
    return std::max<std::int64_t>(1, std::llround(static_cast<double>(side) * scale));
  };
  return {scaled(source.width), scaled(source.height)};
}

}  // namespace tolvek
