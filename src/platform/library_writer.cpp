#include "platform/library_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

#include "library/media_formats.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/library_rows.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"
#include "platform/modules/remote_download.h"
#include "platform/managers/manager_catalog.h"
#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;

// Removes the files (absolute paths) made for an import that failed.
void removeFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) ::unlink(path.c_str());
}

}  // namespace

std::string copyExtension(const std::string& path, const std::string& typeIdentifier) {
  const std::string name = fs::path(path).filename().string();
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() && name.size() - dot <= 9) {
    std::string ext = name.substr(dot + 1);
    if (std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c); })) {
      std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
      return "." + ext;
    }
  }
  return std::string(copyExtensionOfType(typeIdentifier));
}

namespace {

constexpr char kSourcesBusy[] =
    "another tolvek-photos-library run (a sync, add, forget or watch) is changing the sources; try again when it has "
    "finished";

Result<FileLock> takeSourcesLock(const LibraryLocation& location, std::chrono::milliseconds wait) {
  if (!makeFolders(location.libraryFolder, 0700)) {
    return Status::error("cannot create " + location.libraryFolder + ": " + errorText(errno));
  }
  auto lock = FileLock::acquire(location.sourcesLockPath, wait);
  if (!lock) return Status::error(lock.code() == ErrorCode::busy ? kSourcesBusy : "cannot lock the sources: " + lock.message());
  return lock;
}

}  // namespace

Result<std::unique_ptr<LibraryWriter>> LibraryWriter::open(const LibraryLocation& location, MediaModule* media,
                                                           Sources sources) {
  std::optional<FileLock> sourcesLock;
  if (sources == Sources::change) {
    auto lock = takeSourcesLock(location, CatalogWriter::kWriterLockWait);
    if (!lock) return lock.status();
    sourcesLock.emplace(std::move(lock).value());
  }
  auto catalog = CatalogWriter::open(location);
  if (!catalog) return catalog.status();
  return std::unique_ptr<LibraryWriter>(
      new LibraryWriter(location, std::move(sourcesLock), std::move(catalog).value(), media));
}

Status LibraryWriter::holdSourcesLock() {
  if (sourcesLock_) return {};
  auto lock = takeSourcesLock(location_, std::chrono::milliseconds(0));
  if (!lock) return lock.status();
  sourcesLock_.emplace(std::move(lock).value());
  return {};
}

MediaModule* LibraryWriter::media() {
  if (media_ == nullptr) media_ = loadMediaModule();
  return media_;
}

Result<ContentDigest> LibraryWriter::copyIntoLibrary(const std::string& path, const std::string& copy,
                                                     std::optional<TemporaryFile>& target) {
  auto source = ReadableFile::open(path);
  if (!source) return source.status();
  struct stat info {};
  if (::fstat(source->fd(), &info) != 0) return errorStatus(errno);
  auto made = TemporaryFile::createBeside(copy, 0600);
  if (!made) return made.status();
  target.emplace(std::move(made).value());
  // The copy keeps the source's permission bits, as a plain copy would.
  if (::fchmod(target->fd(), info.st_mode & 07777) != 0) return errorStatus(errno);
  // The digest is of the bytes written, which is what the catalog vouches for.
  return copyWithDigest(*source, target->fd());
}

Result<LibraryWriter::Imported> LibraryWriter::importFile(const std::string& path, const ImportSettings& settings) {
  MediaModule* module = media();
  if (module == nullptr) return Status::error("the media module cannot be loaded");
  auto file = ReadableFile::open(path);
  if (!file) return Status::error("cannot read the file: " + file.message());
  const auto probe = module->probe(path);
  if (!probe || probe->mediaType < MediaType::image || probe->mediaType > MediaType::audio) {
    const auto head = file->read(kSniffBytes);
    if (head && looksLikeMedia(*head)) return Status::error(kUnreadableMedia);
    return Imported{Imported::Outcome::notMedia, {}};
  }
  if (probe->rejected) return Imported{Imported::Outcome::rejected, {}};
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return Status::error("cannot read the file");

  const std::string identifier = newAssetIdentifier();
  const AssetFilePaths paths = assetFilePaths(identifier);
  const std::string copyRelative = paths.originalStem + copyExtension(path, probe->uniformTypeIdentifier);
  const std::string copyPath = absolute(copyRelative);

  std::error_code ec;
  fs::create_directories(absolute(paths.originalFolder), ec);
  fs::create_directories(absolute(paths.derivativeFolder), ec);
  // A copy is whole or absent under its name; it is published only once it
  // is known to be new content.
  std::optional<TemporaryFile> target;
  auto copied = copyIntoLibrary(path, copyPath, target);
  if (!copied) return Status::error("cannot copy the file into the library: " + copied.message());

  auto owner = catalog_->assetWithContent(*copied);
  if (!owner) return owner.status();
  if (*owner) {
    const auto& [row, existing, ownCopy] = **owner;
    if (!ownCopy) {
      // Held by reference only: the library keeps its own copy from now on.
      if (Status published = target->publish(copyPath, Publish::neverReplace); !published) return published;
      if (Status adopted = catalog_->adoptCopy(row, copyRelative); !adopted) {
        ::unlink(copyPath.c_str());
        return adopted;
      }
    }
    if (settings.albumRow) {
      if (Status added = catalog_->addToAlbum(*settings.albumRow, {row}); !added) return added;
    }
    return Imported{Imported::Outcome::existing, existing};
  }
  // A new identifier never names an existing copy; should one be there, it
  // is someone else's and stays.
  if (Status published = target->publish(copyPath, Publish::neverReplace); !published) {
    return Status::error("cannot copy the file into the library: " + published.message());
  }

  NewAsset asset;
  asset.mediaType = probe->mediaType;
  if (settings.recordDate) asset.creationDate = probe->creationDate ? *probe->creationDate : info.st_mtime;
  asset.originalFilename = fs::path(path).filename().string();
  asset.uniformTypeIdentifier = probe->uniformTypeIdentifier;
  asset.originalPath = copyRelative;
  asset.original = *copied;
  // The catalog records the derivatives' paths relative to the library folder.
  asset.derivatives = module->makeDerivatives(copyPath, probe->mediaType, absolute(paths.derivativePrefix));
  std::vector<std::string> made{copyPath};
  for (const StoredDerivative& d : asset.derivatives) made.push_back(d.path);

  if (Status recorded = catalog_->addAsset(identifier, asset, settings.albumRow); !recorded) {
    removeFiles(made);
    return recorded;
  }
  return Imported{Imported::Outcome::added, identifier};
}

Status LibraryWriter::removable(const std::string& assetIdentifier, std::int64_t assetRow) {
  auto folder = catalog_->referencingFolder(assetRow);
  if (!folder) return folder.status();
  if (*folder) {
    return Status::error("cannot remove " + assetIdentifier + ": it is in " + validUtf8(**folder) +
                         "; delete it there, or forget the source");
  }
  return {};
}

Status LibraryWriter::remove(const std::vector<std::int64_t>& assetRows) {
  std::vector<std::string> unlinkAfter;
  if (Status removed = catalog_->removeAssets(assetRows, unlinkAfter); !removed) return removed;
  removeFiles(unlinkAfter);
  return {};
}

Status LibraryWriter::offload(const std::string& assetIdentifier, const std::string& url) {
  auto asset = catalog_->assetRow(assetIdentifier);
  if (!asset) return asset.status();
  auto folder = catalog_->referencingFolder(*asset);
  if (!folder) return folder.status();
  if (*folder) return Status::error("cannot offload " + assetIdentifier + ": the original lives in " + validUtf8(**folder));
  const auto original = catalog_->original(*asset);
  if (!original) return Status::error("cannot offload " + assetIdentifier + ": the asset has no original");

  // What the URL must serve: the local copy's content, or, for an original
  // that is already remote, what the catalog recorded for it.
  ContentDigest expected;
  if (!original->path.empty()) {
    auto digest = digestOfFile(original->path);
    if (!digest) return Status::error("cannot read the original " + original->path + ": " + digest.message());
    expected = *digest;
  } else if (original->size && !original->sha256.empty()) {
    expected = ContentDigest{*original->size, original->sha256};
  } else {
    return Status::error("cannot offload " + assetIdentifier +
                         ": the library has neither a copy nor the content hash of its original to check the URL "
                         "against");
  }

  auto download = TemporaryFile::createIn(location_.libraryFolder, 0600);
  if (!download) {
    return Status::error("cannot make a temporary file in " + location_.libraryFolder + ": " + download.message());
  }
  if (Status checked = downloadOriginal(url, ExpectedContent{expected.size, expected.sha256}, *download, {});
      !checked) {
    return Status::error("not offloaded: " + url + " does not serve the original of " + assetIdentifier + " (" +
                         checked.message() + "); nothing was changed");
  }

  auto localCopy = catalog_->offloadOriginal(*asset, url, expected);
  if (!localCopy) return localCopy.status();
  // Removed only after the catalog stopped pointing at it.
  if (!localCopy->empty()) {
    const std::string path = absolute(*localCopy);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return Status::error("cannot remove " + path + ": " + std::strerror(errno));
    }
  }
  return {};
}

void LibraryWriter::removeOrphans() {
  // The writer lock keeps every other import out meanwhile, and the sources
  // lock every sync, so nothing removed here is still being written or
  // waiting for its row. Another process's sync: the orphans wait.
  std::optional<FileLock> borrowed;
  if (!sourcesLock_) {
    auto lock = FileLock::acquire(location_.sourcesLockPath, std::chrono::milliseconds(0));
    if (!lock) return;
    borrowed.emplace(std::move(lock).value());
  }
  const auto named = catalog_->namedFiles();
  if (!named) return;  // without the full list nothing is known to be an orphan
  const std::set<std::string> keep(named->begin(), named->end());
  for (const std::string* folder : {&location_.originalsFolder, &location_.derivativesFolder}) {
    std::error_code ec;
    fs::recursive_directory_iterator it(*folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code fileEc;
      if (it->is_directory(fileEc) && !it->is_symlink(fileEc)) continue;
      const std::string path = it->path().string();
      const std::string relative = relativeToLibrary(location_.libraryFolder, path);
      if (relative != path && keep.count(relative) == 0) ::unlink(path.c_str());
    }
  }
}

namespace {

// `path` made absolute and plain: its real path when it exists, else the
// path as written, without "." and ".." steps or a trailing "/".
std::string resolvedFolder(const std::string& path) { return realPath(path).value_or(plainAbsolutePath(path)); }

}  // namespace

Result<LibraryWriter::AddedSource> LibraryWriter::addSource(const std::string& path) {
  if (Status held = holdSourcesLock(); !held) return held;
  const std::string folder = resolvedFolder(path);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return Status::error(path + ": " + std::strerror(errno));
  if (!S_ISDIR(info.st_mode)) return Status::error(path + ": not a folder");
  const std::string library = resolvedFolder(location_.libraryFolder);
  if (isWithinFolder(folder, library)) return Status::error(path + ": lies inside the library folder " + library);
  if (isWithinFolder(library, folder)) return Status::error(path + ": holds the library folder " + library);
  auto sources = catalog_->sources();
  if (!sources) return sources.status();
  for (const Source& source : *sources) {
    if (source.path == folder) return AddedSource{source, Added::isASource};
    if (source.kind != SourceKind::folder) continue;  // a database; its files lie anywhere
    if (isWithinFolder(folder, source.path)) return AddedSource{source, Added::insideASource};
    if (isWithinFolder(source.path, folder)) return Status::error(path + ": holds the source " + source.path);
  }
  auto row = catalog_->addSource(folder, static_cast<std::int64_t>(info.st_dev));
  if (!row) return row.status();
  return AddedSource{Source{*row, folder, static_cast<std::int64_t>(info.st_dev)}, Added::now};
}

Result<Source> LibraryWriter::addManagerSource(SourceKind kind, const std::string& path) {
  if (Status held = holdSourcesLock(); !held) return held;
  const std::string database = resolvedFolder(path);
  struct stat info {};
  if (::stat(database.c_str(), &info) != 0) return Status::error(path + ": " + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return Status::error(path + ": not a database file");
  if (isWithinFolder(database, resolvedFolder(location_.libraryFolder))) {
    return Status::error(path + ": lies inside the library folder");
  }
  auto sources = catalog_->sources();
  if (!sources) return sources.status();
  for (const Source& source : *sources) {
    if (source.path == database) return Status::error(path + ": is a source already");
  }
  // Refused now rather than recorded as a source that is always offline.
  if (auto read = readManagerCatalog(kind, database); !read) return Status::error(path + ": " + read.message());
  auto row = catalog_->addSource(database, static_cast<std::int64_t>(info.st_dev), kind);
  if (!row) return row.status();
  return Source{*row, database, static_cast<std::int64_t>(info.st_dev), kind};
}

Result<Source> LibraryWriter::findSource(const std::string& path) {
  const std::string folder = resolvedFolder(path);
  auto sources = catalog_->sources();
  if (!sources) return sources.status();
  for (const Source& source : *sources) {
    if (source.path == folder || source.path == path) return source;
  }
  return Status::error(path + ": not a source (see the sources command)");
}

Result<std::optional<LibraryWriter::Covering>> LibraryWriter::coveringSource(const std::string& path) {
  const std::string folder = resolvedFolder(path);
  auto sources = catalog_->sources();
  if (!sources) return sources.status();
  for (const Source& source : *sources) {
    if (source.path == folder || (source.kind == SourceKind::folder && isWithinFolder(folder, source.path))) {
      return std::optional<Covering>(Covering{source, source.path == folder});
    }
  }
  return std::optional<Covering>();
}

Result<SyncTally> LibraryWriter::sync(const std::vector<Source>& sources, const SyncObserver& observer) {
  std::vector<Source> which;
  for (const Source& source : sources) {  // a source named twice is synced once
    if (std::none_of(which.begin(), which.end(), [&](const auto& s) { return s.row == source.row; }))
      which.push_back(source);
  }
  if (which.empty()) {
    auto all = catalog_->sources();
    if (!all) return all.status();
    which = std::move(all).value();
  }
  if (Status held = holdSourcesLock(); !held) return held;
  removeOrphans();
  catalog_->holdLockOnlyInBatches();
  return syncSources(*catalog_, [this] { return media(); }, location_.libraryFolder, which, observer);
}

Status LibraryWriter::forgetSource(const Source& source) {
  if (Status held = holdSourcesLock(); !held) return held;
  std::vector<std::string> unlink;
  if (Status forgotten = catalog_->forgetSource(source.row, unlink); !forgotten) return forgotten;
  removeFiles(unlink);
  return {};
}

}  // namespace tolvek
