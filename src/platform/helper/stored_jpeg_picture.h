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
#include "platform/catalog/stored_asset.h"

namespace tolvek {

// The derivative's bytes when its file holds exactly the recorded number of
// bytes of a whole JPEG stream; nothing otherwise (then it is rendered as
// any file is).
std::optional<std::string> storedJpegBytes(const StoredDerivative& derivative);

// The stored derivative, with `bytes` from storedJpegBytes, as a picture that
// is handed over as it is; only for a request it covers at exactly its own
// size and when its quality is recorded (nothing otherwise).
std::unique_ptr<Picture> storedJpegPicture(const StoredDerivative& derivative, std::string bytes);

}  // namespace tolvek
