#pragma once
// Kind, type identifier and capture date of a file: from its content, else
// from an XMP sidecar beside it or its name.
#include <optional>
#include <string>

#include "platform/modules/media_module.h"

namespace tolvek::media {

// Probes the file at `path`, which the user keeps at `namedPath` (where its
// sidecar sits and whose name may hold its date).
std::optional<MediaProbe> probeMedia(const std::string& path, const std::string& namedPath);

}  // namespace tolvek::media
