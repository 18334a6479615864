#pragma once
// `list`: the newest pictures and videos of one album or of the whole library.
#include <cstdint>
#include <string>

#include "commands/document.h"
#include "commands/iso_date_formatter.h"
#include "library/photo_library.h"

namespace tolvek {

// The most and the fewest items one run lists.
inline constexpr std::int64_t kListMinimum = 1;
inline constexpr std::int64_t kListMaximum = 500;

// {"items": [{"id", "name", "date", "isVideo"}, ...]}, newest first, at most
// `limit` bounded to 1..500. `albumId` "" or "-" is the whole library; one
// that names no collection (of any type) gives an empty "items".
ResultDocument cmdList(PhotoLibrary& library, const IsoDateFormatter& iso, const std::string& albumId,
                       std::int64_t limit);

}  // namespace tolvek
