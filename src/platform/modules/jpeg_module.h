#pragma once
// Shrinking a JPEG with libjpeg-turbo alone: its DCT scaling decodes an
// eighth to a whole of the picture's pixels at once, so a thumbnail smaller
// than a stored derivative costs a fraction of a millisecond and never loads
// the image stack. Built as a small shared module opened on first use, so
// runs without such a request never load libjpeg. It is reached over a C
// boundary (jpeg_entry.h), which this front end wraps.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "library/picture.h"

namespace tolvek {

class JpegModule {
 public:
  virtual ~JpegModule() = default;
  // The upright JPEG `jpeg` (its orientation tag is not read) shrunk to
  // exactly `size` (at most its own size on either side), as a picture whose
  // bitmap encodes at any quality, without metadata (the source has none);
  // nothing when it does not decode in full or is not 8-bit grey or colour.
  virtual std::unique_ptr<Picture> shrink(std::string_view jpeg, PixelSize size) = 0;
};

// Opens the module on first call (beside the executable); the same instance
// afterwards. Nothing when it cannot be loaded.
JpegModule* loadJpegModule();

// The JPEG module in the file `fileName` (beside the executable), through its
// C table (jpeg_entry.h); nothing when it cannot be loaded or was built
// against another table. The module stays loaded.
std::unique_ptr<JpegModule> openJpegModule(const std::string& fileName);

}  // namespace tolvek
