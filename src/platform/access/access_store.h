#pragma once
// The answers to the access question, per application (bundle identifier),
// in a small key file beside the library. Nothing recorded (or no store)
// reads as 0; a store that cannot be read, holds garbage, is too large or is
// not a regular file reads as denied (2), so a damaged store never opens
// the library.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "library/photo_types.h"
#include "library/status.h"

namespace tolvek {

// The bundle identifier both executables carry in their embedded bundle
// information (resources/Info.plist); the tool keys the answers it records by
// its own embedded copy, and tests use this constant to read them.
inline constexpr const char* kHelperBundleIdentifier = "app.tolvek.photos-helper";

struct AccessAnswer {
  AuthorizationStatus status = AuthorizationStatus::notDetermined;
  // With limited access (4): the asset identifiers the user chose.
  std::vector<std::string> chosenAssets;
};

// The longest a write waits for another process's lock on the store.
inline constexpr std::chrono::milliseconds kWriteLockWait{3000};

class AccessStore {
 public:
  explicit AccessStore(std::string path) : path_(std::move(path)) {}

  // The recorded answer for `bundleIdentifier`; never asks anybody.
  AccessAnswer read(const std::string& bundleIdentifier) const;
  // Records `answer` (or clears it, with nothing) for `bundleIdentifier`,
  // keeping the other applications' answers. A store holding garbage is
  // replaced. The file is replaced atomically under a lock beside it, waited
  // for at most kWriteLockWait.
  Status write(const std::string& bundleIdentifier, const std::optional<AccessAnswer>& answer);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tolvek
