#pragma once
// The steps of a probe after its kind-specific branch: a picture's EXIF and
// XMP (exiv2), an XMP sidecar beside the file, then a date in its name.
#include <string>

#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {

// XMP sidecars are a few kilobytes; a larger file beside a picture is not
// read as one.
inline constexpr std::uint64_t kMaxSidecarBytes = 1 << 20;

// Completes `probe` of the opened `file`, which the user keeps at
// `namedPath` (`file` may be opened under another name): for a picture its
// date, rejected mark and content identifier from its own metadata; then,
// for any file without a date yet, the date of its sidecar
// (DateFrom::sidecar), else of its name (DateFrom::fileName). A picture's
// sidecar marks it rejected too.
void completeProbe(MediaProbe& probe, const ReadableFile& file, const std::string& namedPath);

}  // namespace tolvek::media
