#include "platform/media/content_kind.h"

#include "library/media_formats.h"

namespace tolvek::media {

SniffResult sniffContent(std::string_view head) {
  if (const MediaFormat* format = sniffMediaFormat(head)) {
    const Sniffed kind = format->family == FormatFamily::picture     ? Sniffed::picture
                         : format->family == FormatFamily::cameraRaw ? Sniffed::cameraRaw
                                                                     : Sniffed::isoMedia;
    return {kind, std::string(format->typeIdentifier)};
  }
  if (head.empty()) return {};
  return {Sniffed::other, ""};
}

}  // namespace tolvek::media
