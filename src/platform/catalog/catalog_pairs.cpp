// The catalog writer's side of pairs: a Live Photo's movie or a RAW beside
// its JPEG is a half of the still's asset (asset.paired_to), a resource of it
// that no listing, album or moment shows. The pair keeps the identifier
// recorded first, whichever half that was, and keeps it when a half goes.
#include <algorithm>
#include <unordered_set>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

// Adds the (asset, copy) of each file directly in `absoluteFolder` of
// `source` to `into`: a folder source keeps them in that folder's row, a
// manager's under their absolute paths. False on a database error.
bool filesIn(sqlite3* db, const Source& source, const std::string& absoluteFolder,
             std::vector<std::pair<std::int64_t, RecordedCopy>>& into) {
  const bool folder = source.kind == SourceKind::folder;
  if (folder && !isWithinFolder(absoluteFolder, source.path)) return true;
  std::string from, to;
  if (folder) {
    from = absoluteFolder.size() > source.path.size() ? absoluteFolder.substr(source.path.size() + 1) : "";
  } else {
    // Stored without the leading "/"; "0" follows "/" in byte order.
    from = absoluteFolder.substr(1) + "/";
    to = absoluteFolder.substr(1) + "0";
  }
  SqliteStatement select(db, folder ? "SELECT f.path, f.asset_id, f.size, f.modified_ns, f.inode, fo.device FROM file f "
                                      "JOIN folder fo ON fo.id = f.folder_id "
                                      "WHERE fo.source_id = :source AND fo.path = :from AND f.asset_id IS NOT NULL"
                                    : "SELECT path, asset_id, size, modified_ns, inode, NULL FROM file "
                                      "WHERE source_id = :source AND path >= :from AND path < :to "
                                      "AND asset_id IS NOT NULL");
  select.bind(":source", source.row).bindBytes(":from", from).bindBytes(":to", to);
  while (select.step()) {
    RecordedCopy copy{source.kind, source.path, select.text(0), static_cast<std::uint64_t>(select.integer(2)),
                      select.integer(3), static_cast<std::uint64_t>(select.integer(4)), select.optionalInteger(5)};
    if (!folder && folderPart(copy.relative) != std::string_view(absoluteFolder).substr(1)) continue;
    into.emplace_back(select.integer(1), std::move(copy));
  }
  return !select.failed();
}

}  // namespace

Result<std::vector<FolderAsset>> CatalogWriter::assetsInFolder(const std::string& absoluteFolder) {
  const char* what = "read a folder's pairs";
  auto all = sources();
  if (!all) return all.status();
  std::vector<FolderAsset> found;
  std::unordered_set<std::int64_t> seen;
  std::vector<std::pair<std::int64_t, RecordedCopy>> files;
  for (const Source& source : *all) {
    if (absoluteFolder.empty() || !filesIn(db_.get(), source, absoluteFolder, files)) {
      if (absoluteFolder.empty()) break;
      return catalogFailure(db_.get(), what);
    }
  }
  for (auto& [row, copy] : files) {
    if (!seen.insert(row).second) continue;
    FolderAsset asset;
    asset.row = row;
    asset.name = copy.fileName();
    asset.copy = std::move(copy);
    found.push_back(std::move(asset));
  }
  for (FolderAsset& asset : found) {
    SqliteStatement select(db_.get(),
                           "SELECT a.media_type, r.uniform_type_identifier, a.content_identifier, a.duration_ms, "
                           "a.paired_to FROM asset a JOIN resource r ON r.asset_id = a.id AND r.position = 0 "
                           "WHERE a.id = :asset");
    select.bind(":asset", asset.row);
    if (!select.step()) return catalogFailure(db_.get(), what);
    asset.mediaType = select.enumeration<MediaType>(0);
    asset.typeIdentifier = select.text(1);
    const auto content = select.optionalText(2);
    asset.contentIdentifier = content.value_or("");
    asset.factsKnown = content.has_value();
    asset.durationMs = select.optionalInteger(3);
    asset.pairedTo = select.optionalInteger(4);
  }
  std::sort(found.begin(), found.end(), [](const FolderAsset& x, const FolderAsset& y) { return x.row < y.row; });
  return found;
}

Status CatalogWriter::moveMemberships(std::int64_t from, std::int64_t to, const char* what) {
  SqliteStatement albums(db_.get(),
                         "SELECT m.collection_id FROM membership m JOIN collection c ON c.id = m.collection_id "
                         "WHERE m.asset_id = :from AND c.type != :moment AND c.subtype != :folder");
  albums.bind(":from", from).bind(":moment", CollectionType::moment).bind(":folder", CollectionSubtype::albumSyncedFolder);
  std::vector<std::int64_t> collections;
  while (albums.step()) collections.push_back(albums.integer(0));
  if (albums.failed()) return catalogFailure(db_.get(), what);
  SqliteStatement leave(db_.get(), "DELETE FROM membership WHERE asset_id = :from");
  leave.bind(":from", from);
  if (!leave.run()) return catalogFailure(db_.get(), what);
  SqliteStatement target(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :to");
  target.bind(":to", to);
  if (!target.step()) return catalogFailure(db_.get(), what);
  for (const std::int64_t collection : collections) {
    if (Status added = addMembership(collection, to, target.optionalInteger(0), target.enumeration<MediaType>(1), what);
        !added)
      return added;
  }
  return {};
}

Status CatalogWriter::swapIdentity(std::int64_t to, std::int64_t from, const char* what) {
  SqliteStatement read(db_.get(),
                       "SELECT t.identifier, f.identifier, f.favorite FROM asset t, asset f WHERE t.id = :to AND f.id = :from");
  read.bind(":to", to).bind(":from", from);
  if (!read.step()) return catalogFailure(db_.get(), what);
  const std::string toIdentifier = read.text(0), fromIdentifier = read.text(1);
  const std::int64_t favorite = read.integer(2);
  // Through a placeholder, as identifiers are unique.
  SqliteStatement park(db_.get(), "UPDATE asset SET identifier = '~' || identifier WHERE id = :to");
  park.bind(":to", to);
  SqliteStatement give(db_.get(), "UPDATE asset SET identifier = :identifier, favorite = 0 WHERE id = :from");
  give.bind(":identifier", toIdentifier).bind(":from", from);
  SqliteStatement take(db_.get(),
                       "UPDATE asset SET identifier = :identifier, favorite = favorite OR :favorite WHERE id = :to");
  take.bind(":identifier", fromIdentifier).bind(":favorite", favorite).bind(":to", to);
  SqliteStatement copies(db_.get(),
                         "UPDATE membership SET identifier = (SELECT identifier FROM asset WHERE id = asset_id) "
                         "WHERE asset_id IN (:to, :from)");
  copies.bind(":to", to).bind(":from", from);
  if (!park.run() || !give.run() || !take.run() || !copies.run()) return catalogFailure(db_.get(), what);
  return moveMemberships(from, to, what);
}

Status CatalogWriter::pairAssets(std::int64_t primary, std::int64_t half) {
  const char* what = "record a pair";
  // The row recorded first holds the older identifier.
  if (half < primary) {
    if (Status swapped = swapIdentity(primary, half, what); !swapped) return swapped;
  } else {
    SqliteStatement favorite(db_.get(),
                             "UPDATE asset SET favorite = favorite OR (SELECT favorite FROM asset WHERE id = :half) "
                             "WHERE id = :primary");
    favorite.bind(":half", half).bind(":primary", primary);
    if (!favorite.run()) return catalogFailure(db_.get(), what);
    if (Status moved = moveMemberships(half, primary, what); !moved) return moved;
  }
  SqliteStatement link(db_.get(), "UPDATE asset SET paired_to = :primary, favorite = 0 WHERE id = :half");
  link.bind(":primary", primary).bind(":half", half);
  if (!link.run()) return catalogFailure(db_.get(), what);
  // Whatever joined it meanwhile.
  SqliteStatement leave(db_.get(), "DELETE FROM membership WHERE asset_id = :half");
  leave.bind(":half", half);
  if (!leave.run()) return catalogFailure(db_.get(), what);
  return {};
}

Status CatalogWriter::unpairAsset(std::int64_t half) {
  const char* what = "record a pair";
  SqliteStatement unlink(db_.get(), "UPDATE asset SET paired_to = NULL WHERE id = :half RETURNING creation_date, media_type");
  unlink.bind(":half", half);
  if (!unlink.step()) return catalogFailure(db_.get(), what);
  const auto date = unlink.optionalInteger(0);
  const auto type = unlink.enumeration<MediaType>(1);
  if (!unlink.run()) return catalogFailure(db_.get(), what);
  if (Status dated = redate(half, date, type, what); !dated) return dated;
  SqliteStatement folders(db_.get(), "SELECT DISTINCT folder_id FROM file WHERE asset_id = :half");
  folders.bind(":half", half);
  std::vector<std::int64_t> rows;
  while (folders.step()) rows.push_back(folders.integer(0));
  if (folders.failed()) return catalogFailure(db_.get(), what);
  for (const std::int64_t folder : rows) {
    if (Status added = ensureFolderAlbum(folder, half, what); !added) return added;
  }
  return {};
}

Result<std::unordered_map<std::int64_t, std::int64_t>> CatalogWriter::pairedHalves() {
  std::unordered_map<std::int64_t, std::int64_t> halves;
  SqliteStatement select(db_.get(), "SELECT id, paired_to FROM asset WHERE paired_to IS NOT NULL");
  while (select.step()) halves.emplace(select.integer(0), select.integer(1));
  if (select.failed()) return catalogFailure(db_.get(), "read the pairs");
  return halves;
}

Status CatalogWriter::handOverPair(std::int64_t asset, const char* what) {
  SqliteStatement halves(db_.get(),
                         "SELECT id FROM asset WHERE paired_to = :asset AND paired_to IS NOT NULL ORDER BY id");
  halves.bind(":asset", asset);
  std::vector<std::int64_t> rows;
  while (halves.step()) rows.push_back(halves.integer(0));
  if (halves.failed()) return catalogFailure(db_.get(), what);
  for (const std::int64_t half : rows) {
    if (Status alone = unpairAsset(half); !alone) return alone;
  }
  if (rows.empty()) return {};
  return swapIdentity(rows.front(), asset, what);
}

Status CatalogWriter::recordPairFacts(std::int64_t asset, const std::string& contentIdentifier,
                                      std::optional<std::int64_t> durationMs) {
  SqliteStatement update(db_.get(),
                         "UPDATE asset SET content_identifier = :content, duration_ms = :duration WHERE id = :asset");
  update.bind(":content", std::string_view(contentIdentifier)).bind(":duration", durationMs).bind(":asset", asset);
  if (!update.run()) return catalogFailure(db_.get(), "record what pairs an asset");
  return {};
}

Result<std::vector<std::int64_t>> CatalogWriter::unpairedSources() {
  std::vector<std::int64_t> rows;
  SqliteStatement select(db_.get(), "SELECT source_id FROM unpaired_source ORDER BY source_id");
  while (select.step()) rows.push_back(select.integer(0));
  if (select.failed()) return catalogFailure(db_.get(), "read the sources to pair");
  return rows;
}

Status CatalogWriter::sourcePaired(std::int64_t sourceRow) {
  SqliteStatement remove(db_.get(),
                         "DELETE FROM unpaired_source WHERE source_id = :source "
                         "OR source_id NOT IN (SELECT id FROM source)");
  remove.bind(":source", sourceRow);
  if (!remove.run()) return catalogFailure(db_.get(), "record the sources paired");
  return {};
}

}  // namespace tolvek
