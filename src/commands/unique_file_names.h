#pragma once
// The file names handed out during one export, compared without regard to
// letter case. Files already on disk never count.
#include <cstddef>
#include <set>
#include <string>

namespace tolvek {

// Longest file name, in bytes, that the file systems of Linux accept.
inline constexpr std::size_t kMaxFileNameBytes = 255;

class UniqueFileNames {
 public:
  // The proposed name when its lower-cased form has not been handed out yet,
  // else base-2.ext, base-3.ext, ... (base-2 without an extension), each
  // built from the proposed name. The returned name keeps its letter case
  // and stays reserved for good. A name longer than kMaxFileNameBytes has
  // its base shortened at a character boundary, keeping number and extension.
  std::string unique(const std::string& proposed);

 private:
  std::set<std::string> used_;
};

}  // namespace tolvek
