#pragma once
// Paths as text: bytes whose steps "/" separates. No call here touches the
// file system; what a path names on disk is posix_file.h's business.
#include <string_view>

namespace tolvek {

// The part of `path` before its last "/" ("" when it has none).
std::string_view folderPart(std::string_view path);
// The part of `path` after its last "/" (the whole path when it has none).
std::string_view namePart(std::string_view path);
// True when `path` is `folder` or lies below it. Relative paths use "" for
// the root, which holds every path; absolute ones "/", which holds every
// absolute path.
bool isWithinFolder(std::string_view path, std::string_view folder);

}  // namespace tolvek
