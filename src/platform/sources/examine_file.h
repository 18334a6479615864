#pragma once
// Examining one new or changed file of a source: opening it as the helper
// will (never through a link), probing it, hashing it and, when it is the
// first file seen with its content, making its derivatives. examine() runs
// on the sync's worker threads (OrderedPool); it writes no catalog row, only
// derivative files in the library folder, which the result then owns until
// the calling thread records or removes them. ContentClaims is shared by the
// workers and guarded by its own mutex.
#include <string>
#include <unordered_set>
#include <vector>

#include "library/photo_types.h"
#include "platform/catalog/content_hash.h"
#include "platform/catalog/referenced_copy.h"
#include "platform/catalog/stored_asset.h"
#include "platform/modules/media_module.h"
#include "platform/sources/source_walk.h"
#include "platform/system/mutex.h"

namespace tolvek {

// What a worker learnt of one new or changed file.
struct Examined {
  // vanished: the file was gone by the time it was opened (deleted or
  // moved while the sync ran), which is no failure.
  enum class Outcome { failed, vanished, notMedia, media } outcome = Outcome::failed;
  std::string error;
  MediaProbe probe;
  ContentDigest digest;
  // Made when this file was the first seen with its content: named after
  // `storageName`, which becomes the identifier of a new asset.
  std::string storageName;
  std::vector<StoredDerivative> derivatives;  // paths absolute
};

// Content hashes known to the catalog or claimed during this sync; the
// first file to claim a hash makes its derivatives.
class ContentClaims {
 public:
  explicit ContentClaims(std::vector<std::string> known) : claimed_(known.begin(), known.end()) {}
  bool claim(const std::string& sha256) {
    MutexLock lock(mutex_);
    return claimed_.insert(sha256).second;
  }

 private:
  Mutex mutex_;
  std::unordered_set<std::string> claimed_ GUARDED_BY(mutex_);
};

// Makes the derivatives of `path` under a new storage name (given one when
// `storageName` is empty); their paths stay absolute until recorded.
std::vector<StoredDerivative> makeDerivatives(MediaModule& media, const std::string& libraryFolder,
                                              const std::string& path, MediaType type, std::string& storageName);

// Examines the file `where` names, which the walk found as `walked`.
Examined examine(MediaModule& media, ContentClaims& claims, const std::string& libraryFolder,
                 const RecordedCopy& where, const WalkedFile& walked);

}  // namespace tolvek
