#include "platform/media/content_kind.h"

#include "library/media_formats.h"

namespace tolvek::media {

SniffResult sniffContent(std::string_view head) {
  if (const MediaFormat* format = sniffMediaFormat(head)) {
    return {format->family == FormatFamily::picture ? Sniffed::picture : Sniffed::isoMedia,
            std::string(format->typeIdentifier)};
  }
  if (head.empty()) return {};
  return {Sniffed::other, ""};
}

}  // namespace tolvek::media
