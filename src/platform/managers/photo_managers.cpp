#include "platform/managers/photo_managers.h"

#include <array>

#include "platform/managers/manager_readers.h"

namespace tolvek {
namespace {

// SourceKind's numbers are stored in catalogs: a row names its number, and
// a new manager takes a new one.
constexpr std::array kManagers{
    PhotoManager{SourceKind::shotwell, "shotwell", "Shotwell", "Shotwell schema version", 20, 24,
                 managers::shotwellVersion, managers::readShotwell, managers::shotwellDatabase},
    PhotoManager{SourceKind::digikam, "digikam", "digiKam", "digiKam database version", 10, 16,
                 managers::digikamVersion, managers::readDigikam, managers::digikamDatabase},
};

}  // namespace

std::span<const PhotoManager> photoManagers() { return kManagers; }

const PhotoManager* photoManagerOf(SourceKind kind) {
  for (const PhotoManager& manager : kManagers) {
    if (manager.kind == kind) return &manager;
  }
  return nullptr;
}

Result<ManagerCatalog> readManagerSnapshot(const PhotoManager& manager, sqlite3* snapshot) {
  const Result<std::string> recorded = manager.recordedVersion(snapshot);
  if (!recorded) return recorded.status();
  const Result<std::int64_t> version =
      managers::knownVersion(manager.versionName, *recorded, manager.oldestVersion, manager.newestVersion);
  if (!version) return version.status();
  return manager.read(snapshot, *version);
}

}  // namespace tolvek
