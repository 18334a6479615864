#pragma once
// The catalog's tables and indexes. The schema version lives in
// PRAGMA user_version; a reader accepts exactly kCatalogSchemaVersion.
#include <sqlite3.h>

#include <cstdint>

namespace tolvek {

inline constexpr std::int64_t kCatalogSchemaVersion = 2;

// How a collection finds its assets: stored memberships (albums, moments) or
// a rule over the assets that is always current (smart albums).
inline constexpr std::int64_t kRuleMembers = 0;
inline constexpr std::int64_t kRuleFavorites = 1;
inline constexpr std::int64_t kRuleVideos = 2;

// Subtypes as the photo framework numbers them.
inline constexpr std::int64_t kSubtypeAlbumRegular = 2;
inline constexpr std::int64_t kSubtypeSmartAlbumVideos = 202;
inline constexpr std::int64_t kSubtypeSmartAlbumFavorites = 203;
inline constexpr std::int64_t kSubtypeMoment = 0;

// Creates the tables, the indexes and the smart albums in one transaction
// and sets the schema version. Does nothing (and succeeds) when the database
// already has tables; the caller checks their version.
bool createCatalogSchema(sqlite3* db);

}  // namespace tolvek
