#pragma once
// Apple's maker note, as iPhones write it in a picture's EXIF
// (Exif.Photo.MakerNote), which exiv2 0.27 leaves undecoded: "Apple iOS\0",
// a version, a byte order mark ("MM"), then one IFD whose value offsets
// count from the maker note's first byte.
#include <string>
#include <string_view>

namespace tolvek::media {

// The content identifier (tag 0x0011, ExifTool's Apple:ContentIdentifier)
// a Live Photo's still shares with its video; empty when the bytes are no
// Apple maker note or hold none. Every offset and count is checked against
// the bytes given.
std::string appleContentIdentifier(std::string_view makerNote);

}  // namespace tolvek::media
