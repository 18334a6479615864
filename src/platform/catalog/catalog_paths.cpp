// The asset a path names, for the tool's commands that take files where
// they take identifiers: a copy recorded in a source, found by its path as
// the sync recorded it, or any regular file whose content the library holds
// (never through a link: the sync does not follow one to a file either).
#include <sys/stat.h>

#include <cerrno>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

// The same path with the links of its folders resolved (the file itself is
// not); nothing when its folder is not there.
std::optional<std::string> withRealFolder(const std::string& absolute) {
  const std::string folder(folderPart(absolute));
  auto resolved = realPath(folder.empty() ? "/" : folder);
  if (!resolved) return std::nullopt;
  if (*resolved != "/") *resolved += '/';
  return *resolved + std::string(namePart(absolute));
}

// The file row's path of `absolute` in `source`, when it lies below the
// source's root: relative to a folder source, or without its leading "/"
// for a manager's (see sourceFileRoot).
std::optional<std::string> pathInSource(const Source& source, const std::string& absolute) {
  const std::string root = source.fileRoot();
  if (root.empty()) return absolute.size() > 1 ? std::optional<std::string>(absolute.substr(1)) : std::nullopt;
  if (absolute.size() <= root.size() || !isWithinFolder(absolute, root)) return std::nullopt;
  return absolute.substr(root == "/" ? 1 : root.size() + 1);
}

// Why the file at `path` is not read for its content: not there, a
// symbolic link (which the sync does not follow either), a folder, or not a
// regular file; "" for a regular file.
std::string unreadable(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errorText(errno);
  if (S_ISLNK(info.st_mode)) return "a symbolic link, not followed";
  if (S_ISDIR(info.st_mode)) return "a folder, not a file";
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  return {};
}

}  // namespace

Result<CatalogWriter::ShownAsset> CatalogWriter::shownAsset(std::int64_t assetRow) {
  SqliteStatement select(db_.get(),
                         "SELECT s.id, s.identifier FROM asset a JOIN asset s ON s.id = COALESCE(a.paired_to, a.id) "
                         "WHERE a.id = :asset");
  select.bind(":asset", assetRow);
  if (!select.step()) return catalogFailure(db_.get(), "read the assets");
  return ShownAsset{select.integer(0), select.text(1)};
}

Result<CatalogWriter::PathOwner> CatalogWriter::assetOfPath(const std::string& path) {
  const auto shown = [this](std::int64_t row) -> Result<PathOwner> {
    auto asset = shownAsset(row);
    if (!asset) return asset.status();
    return PathOwner{asset->row, std::move(asset->identifier), {}};
  };
  auto all = sources();
  if (!all) return all.status();
  const std::string absolute = plainAbsolutePath(path);
  std::vector<std::string> candidates{absolute};
  if (auto real = withRealFolder(absolute); real && *real != absolute) candidates.push_back(*real);
  for (const std::string& candidate : candidates) {
    for (const Source& source : *all) {
      const auto relative = pathInSource(source, candidate);
      if (!relative) continue;
      SqliteStatement find(db_.get(),
                           "SELECT asset_id FROM file WHERE source_id = :source AND path = :path AND asset_id IS NOT NULL");
      find.bind(":source", source.row).bindBytes(":path", *relative);
      if (find.step()) return shown(find.integer(0));
      if (find.failed()) return catalogFailure(db_.get(), "read the sources' files");
    }
  }
  if (std::string why = unreadable(absolute); !why.empty()) return PathOwner{std::nullopt, {}, std::move(why)};
  // Opened without following a link the file may have become since.
  auto file = ReadableFile::openBelow(std::string(folderPart(absolute)), namePart(absolute));
  if (!file) return PathOwner{std::nullopt, {}, file.message()};
  auto digest = digestOf(*file);
  if (!digest) return PathOwner{std::nullopt, {}, digest.message()};
  auto owner = assetWithContent(*digest);
  if (!owner) return owner.status();
  if (!*owner) return PathOwner{};
  return shown((*owner)->row);
}

}  // namespace tolvek
