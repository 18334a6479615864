#pragma once
// Local identifiers in the photo framework's form: an upper-case random UUID
// and a suffix that tells assets from collections.
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvek {

std::string newAssetIdentifier();       // "UUID/L0/001"
std::string newCollectionIdentifier();  // "UUID/L0/040"
// The identifier of the album of the folder at the absolute path `folder`:
// the same for the same path every time, whichever sources name the folder.
std::string folderCollectionIdentifier(const std::string& folder);
// The identifier of the album a manager's database at `databasePath` gives
// for its event, tag or folder `key`: the same every time, and never one of
// a folder's (a database is no folder).
std::string sourceCollectionIdentifier(const std::string& databasePath, const std::string& key);

// An identifier the user gave, as an error message repeats it: unchanged up
// to kEchoedIdentifierBytes bytes (an identifier is 43), else cut at the
// start of a character there, with an ellipsis and the length it had, so a
// line of standard input that is no identifier (a whole file) stays one
// readable line.
inline constexpr std::size_t kEchoedIdentifierBytes = 64;
std::string echoedIdentifier(std::string_view identifier);

}  // namespace tolvek
