// The Application of the Linux executable: the access gate and the four
// commands, run on the user's photo library on disk. The library is built on
// first use, so a run that ends before the gate never opens it; pictures are
// decoded by the media module, which is opened only when a command needs it.
#include "app/linux_application.h"

#include <optional>

#include "commands/albums_command.h"
#include "commands/export_command.h"
#include "commands/list_command.h"
#include "commands/thumbs_command.h"
#include "library/access_gate.h"
#include "library/services.h"
#include "platform/disk_file_system.h"
#include "platform/glib_main_loop.h"
#include "platform/lazy_picture_decoder.h"
#include "platform/linux_photo_library.h"
#include "platform/system_clock.h"

namespace tolvek {
namespace {

class LinuxApplication final : public Application {
 public:
  LinuxApplication(const IsoDateFormatter& iso, BundleInfo bundle) : iso_(iso), bundle_(std::move(bundle)) {}

  bool ensureAccess() override { return tolvek::ensureAccess(library(), mainLoop_, clock_); }
  Document cmdAlbums() override { return tolvek::cmdAlbums(library()); }
  Document cmdList(const std::string& albumId, std::int64_t limit) override {
    return tolvek::cmdList(library(), iso_, albumId, limit);
  }
  Document cmdThumbs(std::int64_t size, const std::vector<std::string>& ids) override {
    return tolvek::cmdThumbs(library(), size, ids);
  }
  Document cmdExport(const std::string& dir, const std::vector<std::string>& ids) override {
    Services services{library(), pictures_, mainLoop_, clock_, files_};
    return tolvek::cmdExport(services, dir, ids);
  }

 private:
  PhotoLibrary& library() {
    if (!library_) library_.emplace(bundle_.identifier, bundle_.usageDescription);
    return *library_;
  }

  const IsoDateFormatter& iso_;
  BundleInfo bundle_;
  std::optional<LinuxPhotoLibrary> library_;
  LazyPictureDecoder pictures_;
  GLibMainLoop mainLoop_;
  SystemClock clock_;
  DiskFileSystem files_;
};

}  // namespace

std::unique_ptr<Application> makeLinuxApplication(const IsoDateFormatter& iso, const BundleInfo& bundle) {
  return std::make_unique<LinuxApplication>(iso, bundle);
}

}  // namespace tolvek
