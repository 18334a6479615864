#pragma once
// How the catalog records the library's own files: paths relative to the
// library folder (fileInLibrary turns them back), and an asset's original as
// its first resource row holds it. The reader and the writer read that row
// through the same two functions.
#include <cstdint>
#include <string>

#include "platform/catalog/sqlite_statement.h"
#include "platform/catalog/stored_asset.h"

namespace tolvek {

// `path` relative to `libraryFolder` when it lies inside it, else as it is
// (already relative).
std::string relativeToLibrary(const std::string& libraryFolder, const std::string& path);

// The columns storedOriginalOf reads from a resource row of a catalog of
// `schemaVersion`: path, url, type, size, hash (NULLs where the schema has
// no size and hash).
std::string storedOriginalColumns(std::int64_t schemaVersion);
// The original those columns record; its path absolute ("" when the library
// holds no copy, or the row names one outside the library).
StoredOriginal storedOriginalOf(const SqliteStatement& row, const std::string& libraryFolder);

}  // namespace tolvek
