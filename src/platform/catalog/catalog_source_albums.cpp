// The catalog writer's side of the albums sources give: a photo manager's
// events, tags and folders (replaceSourceAlbums), and forgetting a source
// with everything found only through it.
#include <unordered_map>
#include <unordered_set>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/catalog/valid_utf8.h"
#include "platform/catalog/folder_albums.h"

namespace tolvek {
namespace {

constexpr char kRecordAlbums[] = "record the source's albums";

// The collections a source's albums are, by key.
Result<std::unordered_map<std::string, std::int64_t>> sourceAlbumKeys(sqlite3* db, std::int64_t source) {
  std::unordered_map<std::string, std::int64_t> keys;
  SqliteStatement select(db, "SELECT key, collection_id FROM source_album WHERE source_id = :source");
  select.bind(":source", source);
  while (select.step()) keys.emplace(select.text(0), select.integer(1));
  if (select.failed()) return catalogFailure(db, "read the source's albums");
  return keys;
}

struct AlbumCollection {
  std::int64_t row = 0;
  bool titled = true;  // false: a folder source names the folder and titles it
};

// The collection of `album`: for a folder, the one any source gives it
// already (titled by a folder source when one names it), else one named by
// its path; for an event or a tag, one named by the source and its key.
Result<AlbumCollection> albumCollection(sqlite3* db, StatementCache& statements, const Source& source,
                                        const SourceAlbum& album, const std::optional<std::string>& folder) {
  if (folder) {
    const auto namers = folderNamers(db, *folder);
    if (!namers) return namers.status();
    if (!namers->empty()) return AlbumCollection{namers->front().album, !namers->front().folderRow};
  }
  SqliteStatement upsert(db, statements,
                         "INSERT INTO collection (identifier, type, subtype, title, rule) "
                         "VALUES (:identifier, :type, :subtype, NULL, :rule) "
                         "ON CONFLICT (identifier) DO UPDATE SET subtype = excluded.subtype RETURNING id");
  upsert.bind(":identifier", folder ? folderCollectionIdentifier(*folder) : sourceCollectionIdentifier(source.path, album.key))
      .bind(":type", CollectionType::album)
      .bind(":subtype", album.subtype)
      .bind(":rule", CollectionRule::members);
  if (!upsert.step()) return catalogFailure(db, kRecordAlbums);
  const std::int64_t row = upsert.integer(0);
  if (!upsert.run()) return catalogFailure(db, kRecordAlbums);
  return AlbumCollection{row, true};
}

// Makes the collection's members the album's. Only the difference is
// written, so a sync of an unchanged database rewrites no membership.
Status writeMembers(sqlite3* db, StatementCache& statements, std::int64_t source, const SourceAlbum& album,
                    const std::optional<std::string>& folder, std::int64_t collection) {
  std::unordered_set<std::int64_t> present;
  {
    SqliteStatement members(db, statements, "SELECT asset_id FROM membership WHERE collection_id = :collection");
    members.bind(":collection", collection);
    while (members.step()) present.insert(members.integer(0));
    if (members.failed()) return catalogFailure(db, kRecordAlbums);
  }
  std::unordered_set<std::int64_t> wanted;
  for (const std::int64_t asset : album.assetRows) {
    if (!wanted.insert(asset).second || present.erase(asset) > 0) continue;
    SqliteStatement add(db, statements,
                        "INSERT OR IGNORE INTO membership "
                        "(collection_id, asset_id, position, identifier, creation_date, media_type) "
                        "SELECT :collection, a.id, (SELECT COALESCE(MAX(position), 0) + 1 FROM membership "
                        "WHERE collection_id = :collection), a.identifier, a.creation_date, a.media_type "
                        "FROM asset a WHERE a.id = :asset");
    add.bind(":collection", collection).bind(":asset", asset);
    if (!add.run()) return catalogFailure(db, kRecordAlbums);
  }
  if (folder) {
    // Left the folder here; kept while another source has it there.
    const std::vector<std::int64_t> leaving(present.begin(), present.end());
    return releaseFolderMembers(db, *folder, collection, leaving, source);
  }
  for (const std::int64_t asset : present) {  // left the event or tag
    SqliteStatement leave(db, statements, "DELETE FROM membership WHERE collection_id = :collection AND asset_id = :asset");
    leave.bind(":collection", collection).bind(":asset", asset);
    if (!leave.run()) return catalogFailure(db, kRecordAlbums);
  }
  return {};
}

// Titles the collection as the album says, or by the day of its earliest member.
Status retitle(sqlite3* db, StatementCache& statements, const SourceAlbum& album, std::int64_t collection) {
  std::optional<std::string> title;
  if (album.title) {
    title = validUtf8(*album.title);
  } else {
    SqliteStatement earliest(db, statements, "SELECT MIN(creation_date) FROM membership WHERE collection_id = :collection");
    earliest.bind(":collection", collection);
    if (!earliest.step()) return catalogFailure(db, kRecordAlbums);
    if (auto date = earliest.optionalInteger(0)) title = localDay(*date);
  }
  SqliteStatement update(db, statements, "UPDATE collection SET title = :title WHERE id = :collection AND title IS NOT :title");
  update.bind(":title", title).bind(":collection", collection);
  if (!update.run()) return catalogFailure(db, kRecordAlbums);
  return {};
}

}  // namespace

Status CatalogWriter::dropSourceCollection(std::int64_t source, const std::string& key, std::int64_t collection) {
  if (const std::optional<std::string> folder = folderOfAlbumKey(key)) {
    const Result<bool> shared = folderNamedByOthers(db_.get(), *folder, collection, source);
    if (!shared) return shared.status();
    if (*shared) {
      // Another source names the folder: what it holds copies of stays.
      std::vector<std::int64_t> members;
      SqliteStatement select(db_.get(), "SELECT asset_id FROM membership WHERE collection_id = :collection");
      select.bind(":collection", collection);
      while (select.step()) members.push_back(select.integer(0));
      if (select.failed()) return catalogFailure(db_.get(), "read an album's members");
      return releaseFolderMembers(db_.get(), *folder, collection, members, source);
    }
  }
  for (const char* sql : {"DELETE FROM membership WHERE collection_id = :collection",
                          "DELETE FROM collection WHERE id = :collection"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":collection", collection);
    if (!remove.run()) return catalogFailure(db_.get(), "remove the source's albums");
  }
  return {};
}

Status CatalogWriter::replaceSourceAlbums(const Source& source, const std::vector<SourceAlbum>& albums) {
  auto before = sourceAlbumKeys(db_.get(), source.row);  // key -> collection
  if (!before) return before.status();
  // The same few statements for every album: prepared once.
  StatementCache statements;
  for (const SourceAlbum& album : albums) {
    if (album.assetRows.empty()) continue;  // goes with the albums no longer given
    const std::optional<std::string> folder = folderOfAlbumKey(album.key);
    const auto collection = albumCollection(db_.get(), statements, source, album, folder);
    if (!collection) return collection.status();
    SqliteStatement link(db_.get(), statements,
                         "INSERT INTO source_album (source_id, key, collection_id) VALUES (:source, :key, :collection) "
                         "ON CONFLICT (source_id, key) DO UPDATE SET collection_id = excluded.collection_id");
    link.bind(":source", source.row).bind(":key", std::string_view(album.key)).bind(":collection", collection->row);
    if (!link.run()) return catalogFailure(db_.get(), kRecordAlbums);
    if (const auto was = before->find(album.key); was != before->end()) {
      // An album of older versions for a folder that is now one album.
      if (was->second != collection->row) {
        if (Status dropped = dropSourceCollection(source.row, album.key, was->second); !dropped) return dropped;
      }
      before->erase(was);
    }
    if (Status written = writeMembers(db_.get(), statements, source.row, album, folder, collection->row); !written) {
      return written;
    }
    if (!collection->titled) continue;
    if (Status titled = retitle(db_.get(), statements, album, collection->row); !titled) return titled;
  }
  for (const auto& [key, collection] : *before) {  // no longer in the database, or without members
    SqliteStatement unlink(db_.get(), "DELETE FROM source_album WHERE source_id = :source AND key = :key");
    unlink.bind(":source", source.row).bind(":key", std::string_view(key));
    if (!unlink.run()) return catalogFailure(db_.get(), kRecordAlbums);
    if (Status dropped = dropSourceCollection(source.row, key, collection); !dropped) return dropped;
  }
  return {};
}

Status CatalogWriter::forgetSource(std::int64_t source, std::vector<std::string>& unlinkAfter) {
  auto batch = beginBatch();
  if (!batch) return batch.status();
  std::vector<std::string> unlink;
  if (Status forgotten = forgetSourceRows(source, unlink); !forgotten) return forgotten;
  if (Status committed = batch->commit(); !committed) return committed;
  unlinkAfter.insert(unlinkAfter.end(), unlink.begin(), unlink.end());
  return {};
}

Status CatalogWriter::forgetSourceRows(std::int64_t source, std::vector<std::string>& unlinkAfter) {
  std::vector<std::int64_t> files;
  {
    SqliteStatement select(db_.get(), "SELECT id FROM file WHERE source_id = :source");
    select.bind(":source", source);
    while (select.step()) files.push_back(select.integer(0));
    if (select.failed()) return catalogFailure(db_.get(), "read the source's files");
  }
  for (const std::int64_t file : files) {
    if (Status removed = removeFile(file, unlinkAfter); !removed) return removed;
  }
  std::vector<std::pair<std::string, std::int64_t>> albums;  // key, collection
  {
    SqliteStatement select(db_.get(), "DELETE FROM source_album WHERE source_id = :source RETURNING key, collection_id");
    select.bind(":source", source);
    while (select.step()) albums.emplace_back(select.text(0), select.integer(1));
    if (select.failed()) return catalogFailure(db_.get(), "forget the source's albums");
  }
  for (const auto& [key, collection] : albums) {
    if (Status dropped = dropSourceCollection(source, key, collection); !dropped) return dropped;
  }
  for (const char* sql : {"DELETE FROM folder WHERE source_id = :source", "DELETE FROM source WHERE id = :source"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":source", source);
    if (!remove.run()) return catalogFailure(db_.get(), "forget the source");
  }
  return pruneEmptyCollections();
}

}  // namespace tolvek
