#include "platform/sources/examine_file.h"

#include <sys/stat.h>

#include <cerrno>


#include "library/media_formats.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/posix/make_folders.h"
#include "platform/posix/posix_file.h"
#include "platform/system/library_location.h"
#include "platform/sources/source_sync.h"

namespace tolvek {

std::vector<StoredDerivative> makeDerivatives(MediaModule& media, const std::string& libraryFolder,
                                              const std::string& path, MediaType type, std::string& storageName) {
  if (type == MediaType::audio) return {};
  if (storageName.empty()) storageName = newAssetIdentifier();
  const AssetFilePaths paths = assetFilePaths(storageName);
  makeFolders(libraryFolder + "/" + paths.derivativeFolder, 0700);
  return media.makeDerivatives(path, type, libraryFolder + "/" + paths.derivativePrefix);
}

Examined examine(MediaModule& media, ContentClaims& claims, const std::string& libraryFolder,
                 const RecordedCopy& where, const WalkedFile& walked) {
  Examined result;
  const std::string path = where.absolutePath();
  // Opened first so that a file that cannot be read is told from one that
  // is no picture (the probe answers nothing for both); never through a
  // link, as the helper will read it.
  auto file = openRecordedCopy(where);
  if (!file) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      result.outcome = Examined::Outcome::vanished;
    } else {
      result.error = file.message();
    }
    return result;
  }
  // A file written while the sync runs is left as it was recorded, for the
  // next sync: what was read must be what was walked.
  if (file->identity().inode != walked.inode || file->size() != walked.size ||
      file->identity().modifiedNs != walked.modifiedNs) {
    result.error = "it changed while it was read; the next sync takes it up";
    return result;
  }
  // The media module reads the open file itself, so that a file swapped
  // for a link or a FIFO after it was opened is never what gets read.
  const std::string name = file->openedName(path);
  auto probe = media.probe(name, path);
  // A picture marked rejected is left out as if it were no picture: counted
  // as skipped, and as removed when it was in the library.
  if (probe && probe->rejected) {
    result.outcome = Examined::Outcome::notMedia;
    return result;
  }
  if (!probe || probe->mediaType < MediaType::image || probe->mediaType > MediaType::audio) {
    const auto head = file->read(kSniffBytes);
    if (head && looksLikeMedia(*head)) {
      result.error = kUnreadableMedia;
    } else {
      result.outcome = Examined::Outcome::notMedia;
    }
    return result;
  }
  auto digest = digestOf(*file);
  if (!digest) {
    result.error = digest.message();
    return result;
  }
  result.outcome = Examined::Outcome::media;
  result.probe = std::move(*probe);
  result.digest = std::move(*digest);
  if (claims.claim(result.digest.sha256)) {
    result.derivatives = makeDerivatives(media, libraryFolder, name, result.probe.mediaType, result.storageName);
  }
  return result;
}

}  // namespace tolvek
