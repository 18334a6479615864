#include "platform/catalog/library_rows.h"

#include "platform/system/library_location.h"

namespace tolvek {

std::string relativeToLibrary(const std::string& libraryFolder, const std::string& path) {
  const std::string prefix = libraryFolder + "/";
  return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
}

std::string storedOriginalColumns(std::int64_t schemaVersion) {
  return std::string("path, url, uniform_type_identifier, ") + (schemaVersion >= 3 ? "size, sha256" : "NULL, NULL");
}

StoredOriginal storedOriginalOf(const SqliteStatement& row, const std::string& libraryFolder) {
  StoredOriginal original;
  original.path = fileInLibrary(libraryFolder, row.optionalText(0));
  original.url = row.optionalText(1).value_or("");
  original.uniformTypeIdentifier = row.text(2);
  if (auto size = row.optionalInteger(3); size && *size >= 0) original.size = static_cast<std::uint64_t>(*size);
  original.sha256 = row.optionalText(4).value_or("");
  return original;
}

}  // namespace tolvek
