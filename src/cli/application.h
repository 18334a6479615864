#pragma once
// The seam between the dispatch and what it calls: the access gate and the
// four commands. The real one runs them on the photo library; tests record.
#include <cstdint>
#include <string>
#include <vector>

#include "commands/document.h"

namespace tolvek {

class Application {
 public:
  virtual ~Application() = default;
  // True when the run may read the library (authorized or limited).
  virtual bool ensureAccess() = 0;
  virtual Document cmdAlbums() = 0;
  virtual Document cmdList(const std::string& albumId, std::int64_t limit) = 0;
  virtual Document cmdThumbs(std::int64_t size, const std::vector<std::string>& ids) = 0;
  virtual Document cmdExport(const std::string& dir, const std::vector<std::string>& ids) = 0;
};

}  // namespace tolvek
