#pragma once
// Folders made with their parents, as `mkdir -p` makes them.
#include <sys/types.h>

#include <string>

namespace tolvek {

// Makes `path` and every missing folder above it with `mode` (less the
// umask). True when `path` is then a folder (links followed); false with
// errno set otherwise (ENOTDIR where a step is a file).
bool makeFolders(const std::string& path, mode_t mode);

}  // namespace tolvek
