#pragma once
// The smallest size of a picture that covers a box (aspect fill), never
// larger than the picture itself.
#include "library/picture.h"

namespace tolvek {

// A box with a side of 0 or less asks for the full size.
PixelSize coverSize(PixelSize source, PixelSize box);

}  // namespace tolvek
