#pragma once
// Kind, type identifier and capture date of a file, from its content.
#include <optional>
#include <string>

#include "platform/modules/media_module.h"

namespace tolvek::media {

std::optional<MediaProbe> probeMedia(const std::string& path);

}  // namespace tolvek::media
