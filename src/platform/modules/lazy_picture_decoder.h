#pragma once
// A PictureDecoder that opens the media module on its first decode, so runs
// that decode nothing never load the image libraries.
#include "library/picture.h"

namespace tolvek {

class LazyPictureDecoder final : public PictureDecoder {
 public:
  // Nothing when the module cannot be loaded or the data is no picture.
  std::unique_ptr<Picture> decode(std::string_view data) override;
};

}  // namespace tolvek
