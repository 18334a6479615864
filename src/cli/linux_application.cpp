// Interim: the photo library is not wired into the executable yet, so access
// is always refused and every command line ends with the "photos_denied"
// document and status 3. The commands are never reached and never pretend to
// have a result. To be replaced when the library layer lands.
#include "cli/linux_application.h"

namespace tolvek {
namespace {

class UnwiredApplication final : public Application {
 public:
  bool ensureAccess() override { return false; }
  // Unreachable behind the refusing gate; an empty document claims nothing.
  Document cmdAlbums() override { return Document::object(); }
  Document cmdList(const std::string&, std::int64_t) override { return Document::object(); }
  Document cmdThumbs(std::int64_t, const std::vector<std::string>&) override { return Document::object(); }
  Document cmdExport(const std::string&, const std::vector<std::string>&) override { return Document::object(); }
};

}  // namespace

std::unique_ptr<Application> makeLinuxApplication(const IsoDateFormatter&, const BundleInfo&) {
  return std::make_unique<UnwiredApplication>();
}

}  // namespace tolvek
