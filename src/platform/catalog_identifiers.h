#pragma once
// Local identifiers in the photo framework's form: an upper-case random UUID
// and a suffix that tells assets from collections.
#include <string>

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

}  // namespace tolvek
