#pragma once
// A libvips source over a regular file that never reads past a cap (the
// file's size when it was opened, or a recorded size), so a file that grows
// or is swapped for an endless one while it is decoded ends at the cap.
#include <vips/vips.h>

#include <cstdint>
#include <memory>

#include "platform/posix/posix_file.h"

namespace tolvek::media {

struct SourceUnref {
  void operator()(VipsSource* source) const {
    if (source != nullptr) g_object_unref(source);
  }
};
using SourcePtr = std::unique_ptr<VipsSource, SourceUnref>;

// Reads bytes [0, min(file.size(), maxBytes)) of `file`, or all of them when
// `maxBytes` is 0. The source holds its own descriptor (a duplicate) and
// lives as long as its last reference; nothing when it cannot be made.
SourcePtr cappedSource(const ReadableFile& file, std::uint64_t maxBytes);

// The byte count a capped reader of `file` stops at.
inline std::uint64_t capFor(const ReadableFile& file, std::uint64_t maxBytes) {
  return maxBytes == 0 || maxBytes > file.size() ? file.size() : maxBytes;
}

}  // namespace tolvek::media
