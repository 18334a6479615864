#pragma once
// File names from the library are untrusted: what export may write them as.
#include <cstdint>
#include <string>

namespace tolvek {

// `name` with every "/" and NUL replaced by "_", so that it names one file
// directly inside the export folder; ".", ".." and an empty name become the
// fallback name of `mediaType` ("video.mov" or "photo.jpg").
std::string cleanedFileName(const std::string& name, std::int64_t mediaType);

}  // namespace tolvek
