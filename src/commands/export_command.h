#pragma once
// `export`: chosen pictures and videos written into a folder under names
// unique within the run; HEIC and HEIF pictures become JPEG.
#include <string>
#include <vector>

#include "commands/document.h"
#include "library/services.h"

namespace tolvek {

// Longest wait for one video's resource write to complete.
inline constexpr double kVideoWriteTimeoutSeconds = 600;

// {"files": [{"id", "path"}, ...], "errors": ["<asset file name>: <reason>", ...]}.
// `dir` ("" is the working directory) is made absolute (".." kept) and
// created with its parents (a failure shows in the writes). When that path
// is not valid UTF-8 (the working directory's name may be any bytes),
// nothing is created or written and each asset gets one error. Assets are
// handled one at a time in the order of `ids`: pictures through the image
// data request and FileSystem::replaceFile, videos through a resource write
// awaited on the main loop for at most kVideoWriteTimeoutSeconds.
ResultDocument cmdExport(Services& services, const std::string& dir, const std::vector<std::string>& ids);

}  // namespace tolvek
