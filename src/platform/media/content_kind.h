#pragma once
// What the first bytes of a file say it is, before any decoder runs.
#include <string>
#include <string_view>

namespace tolvek::media {

enum class Sniffed {
  unknown,
  picture,  // typeIdentifier is set
  cameraRaw, // a camera's RAW file: typeIdentifier is set
  isoMedia, // an ISO base media file (MP4, MOV, M4A, M4V): decided by its streams
  other,    // anything else: left to FFmpeg
};

struct SniffResult {
  Sniffed kind = Sniffed::unknown;
  std::string typeIdentifier;  // for pictures, and ISO media's brand family
};

// `head` is the start of the file (at least 64 bytes when the file has them).
// ISO media gets "com.apple.quicktime-movie" for QuickTime, "com.apple.m4v-video"
// for M4V brands, "com.apple.m4a-audio" for M4A/M4B brands, else "public.mpeg-4".
SniffResult sniffContent(std::string_view head);

}  // namespace tolvek::media
