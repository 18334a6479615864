// The Application of the Linux executable: the access gate and the services
// the commands run on, over the user's photo library on disk. The library is
// built on first use, so a run that ends before the gate never opens it;
// pictures are decoded by the media module, opened only when one is needed.
#include "app/linux_application.h"

#include <optional>

#include "library/access_gate.h"
#include "library/services.h"
#include "platform/system/disk_file_system.h"
#include "platform/system/poll_main_loop.h"
#include "platform/modules/lazy_picture_decoder.h"
#include "platform/linux_photo_library.h"
#include "platform/system/system_clock.h"

namespace tolvek {
namespace {

class LinuxApplication final : public Application {
 public:
  LinuxApplication(const IsoDateFormatter& iso, BundleInfo bundle) : iso_(iso), bundle_(std::move(bundle)) {}

  bool ensureAccess() override { return tolvek::ensureAccess(library(), mainLoop_, clock_); }
  Services& services() override {
    if (!services_) services_.emplace(Services{library(), pictures_, mainLoop_, clock_, files_});
    return *services_;
  }
  const IsoDateFormatter& dates() override { return iso_; }

 private:
  PhotoLibrary& library() {
    if (!library_) library_.emplace(bundle_.identifier, bundle_.usageDescription);
    return *library_;
  }

  const IsoDateFormatter& iso_;
  BundleInfo bundle_;
  std::optional<LinuxPhotoLibrary> library_;
  LazyPictureDecoder pictures_;
  PollMainLoop mainLoop_;
  SystemClock clock_;
  DiskFileSystem files_;
  std::optional<Services> services_;  // refers to the members above
};

}  // namespace

std::unique_ptr<Application> makeLinuxApplication(const IsoDateFormatter& iso, const BundleInfo& bundle) {
  return std::make_unique<LinuxApplication>(iso, bundle);
}

}  // namespace tolvek
