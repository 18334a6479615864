#pragma once
// The Application of the Linux executable: the access gate and the services
// of the user's photo library.
#include <memory>

#include "cli/application.h"
#include "bundle/bundle_info.h"
#include "commands/iso_date_formatter.h"

namespace tolvek {

// `iso` outlives the returned application; `bundle` is copied as needed.
std::unique_ptr<Application> makeLinuxApplication(const IsoDateFormatter& iso, const BundleInfo& bundle);

}  // namespace tolvek
