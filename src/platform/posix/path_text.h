#pragma once
// Paths as text: bytes whose steps "/" separates. No call here opens a
// file; what a path names on disk is posix_file.h's business. Only
// plainAbsolutePath (the working directory) and realPath (the links on the
// way) look at the file system at all.
#include <optional>
#include <string>
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

// `path` made absolute against the working directory and plain: no "." or
// ".." steps, no double or trailing "/". Nothing on disk is looked at but
// the working directory, so a link is never followed ("" stays "").
std::string plainAbsolutePath(const std::string& path);
// The real path of `path`: absolute, every link on the way resolved
// (realpath(3)); nothing when it cannot be resolved, e.g. when a step is
// missing.
std::optional<std::string> realPath(const std::string& path);

}  // namespace tolvek
