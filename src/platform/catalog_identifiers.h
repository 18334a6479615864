#pragma once
// Local identifiers in the photo framework's form: an upper-case random UUID
// and a suffix that tells assets from collections.
#include <string>

namespace tolvek {

std::string newAssetIdentifier();       // "UUID/L0/001"
std::string newCollectionIdentifier();  // "UUID/L0/040"

}  // namespace tolvek
