#pragma once
// A derivative that is exactly the picture a request asks for: its JPEG
// bytes are handed over as they are when asked at the quality they were made
// with and without metadata, so a thumbnail costs one read of a file and
// never loads the image stack. Asked otherwise, the bytes are decoded by the
// media module and encoded again.
#include <memory>
#include <optional>
#include <string>

#include "library/picture.h"
#include "platform/stored_asset.h"

namespace tolvek {

// The stored derivative as a picture, when it can be handed over for a
// request of `target` (aspect fill): it covers the target at exactly its own
// size (or it is the whole picture and smaller), its quality is recorded, and
// the file holds exactly the recorded number of bytes of a whole JPEG
// stream. Nothing otherwise: then it is rendered as any file is.
std::unique_ptr<Picture> storedJpegPicture(const StoredDerivative& derivative, PixelSize target, bool wholePicture);

}  // namespace tolvek
