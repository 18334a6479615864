#pragma once
// Camera RAW files read with LibRaw: probed, rendered from the largest
// embedded preview that covers a request, else developed at half size.
// LibRaw reads through CappedRawStream only, with its memory capped and the
// sensor and preview sizes checked before anything is unpacked.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "library/photo_types.h"
#include "platform/media/file_render.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"

namespace tolvek::media {

// What LibRaw allocates for one file, at most (raw data and developed image).
inline constexpr unsigned kMaxRawMemoryMb = 400;
// Sensors that declare more pixels than this are never unpacked.
inline constexpr std::int64_t kMaxRawPixels = 150'000'000;
// Embedded previews longer than this are never read.
inline constexpr std::uint64_t kMaxPreviewBytes = 64u << 20;

enum class RawOutcome {
  read,        // a RAW LibRaw reads
  notRaw,      // a TIFF that LibRaw takes for no RAW at all (it only looked like one)
  unreadable,  // a RAW LibRaw cannot read (damaged, too large, nothing to show)
};

struct RawProbe {
  RawOutcome outcome = RawOutcome::unreadable;
  std::optional<MediaProbe> probe;  // a picture of `typeIdentifier`, without a date
};

// Probes the RAW file at `path` (sniffed as `typeIdentifier`).
RawProbe probeCameraRaw(const std::string& path, std::string_view typeIdentifier);

struct RawRender {
  RawOutcome outcome = RawOutcome::unreadable;
  RenderedFile rendered;  // upright is the RAW's own upright size
};

// Upright pixels of the RAW `file` (read no further than `maxBytes`, 0: its
// size) covering `box`, as renderFileToPixels gives them: from the embedded
// preview when it covers the request, else from a half-size development.
RawRender renderCameraRaw(const ReadableFile& file, std::uint64_t maxBytes, PixelSize box,
                          std::optional<PixelSize> original);

}  // namespace tolvek::media
