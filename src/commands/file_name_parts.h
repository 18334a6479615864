#pragma once
// A file name split into its base and its last extension.
#include <string>
#include <string_view>

namespace tolvek {

struct FileNameParts {
  std::string base;       // the name without its last extension
  std::string extension;  // without its dot; empty when the name has none
};

// The extension is the text after the last dot. Leading dots never start an
// extension (".hidden" has none) and a trailing dot gives none ("name." has
// none). IMG_0001.JPG gives IMG_0001 and JPG; archive.tar.gz gives
// archive.tar and gz.
FileNameParts splitFileName(std::string_view name);

}  // namespace tolvek
