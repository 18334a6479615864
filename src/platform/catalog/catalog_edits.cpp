// The catalog writer's edits that the library tool offers the user: albums
// listed, filled, emptied, renamed and deleted, favourites marked, assets
// removed. Each is one transaction, so a list of changes is made whole or
// not at all.
#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek {

Status CatalogWriter::addToAlbum(std::int64_t album, const std::vector<std::int64_t>& assets) {
  const char* what = "add to the album";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  for (const std::int64_t asset : assets) {
    SqliteStatement find(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :asset");
    find.bind(":asset", asset);
    if (!find.step()) return catalogFailure(db_.get(), what);
    Status added = addMembership(album, asset, find.optionalInteger(0), find.enumeration<MediaType>(1), what);
    if (!added) return added;
  }
  return transaction->commit();
}

Status CatalogWriter::removeFromAlbum(std::int64_t album, const std::vector<std::int64_t>& assets) {
  const char* what = "take assets out of the album";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  for (const std::int64_t asset : assets) {
    SqliteStatement remove(db_.get(), "DELETE FROM membership WHERE collection_id = :album AND asset_id = :asset");
    remove.bind(":album", album).bind(":asset", asset);
    if (!remove.run()) return catalogFailure(db_.get(), what);
  }
  return transaction->commit();
}

Status CatalogWriter::setFavorite(const std::vector<std::int64_t>& assets, bool favorite) {
  const char* what = "change the favourite marks";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  for (const std::int64_t asset : assets) {
    SqliteStatement update(db_.get(), "UPDATE asset SET favorite = :favorite WHERE id = :asset");
    update.bind(":favorite", std::int64_t{favorite ? 1 : 0}).bind(":asset", asset);
    if (!update.run()) return catalogFailure(db_.get(), what);
  }
  return transaction->commit();
}

Result<std::vector<CatalogWriter::AlbumEntry>> CatalogWriter::albums() {
  std::vector<AlbumEntry> result;
  // The smart albums first, counted by their rules as the helper fetches
  // them: the halves of pairs are no assets of their own.
  SqliteStatement smart(db_.get(),
                        "SELECT c.identifier, c.title, c.rule, CASE c.rule "
                        "WHEN :favorites THEN (SELECT COUNT(*) FROM asset a WHERE a.favorite = 1 AND a.paired_to IS NULL) "
                        "WHEN :videos THEN (SELECT COUNT(*) FROM asset a WHERE a.media_type = :video "
                        "AND a.paired_to IS NULL) ELSE 0 END FROM collection c WHERE c.type = :type ORDER BY c.id");
  smart.bind(":favorites", CollectionRule::favorites)
      .bind(":videos", CollectionRule::videos)
      .bind(":video", MediaType::video)
      .bind(":type", CollectionType::smartAlbum);
  while (smart.step()) {
    result.push_back({smart.text(0), smart.optionalText(1), smart.integer(3), std::nullopt,
                      smart.enumeration<CollectionRule>(2)});
  }
  if (smart.failed()) return catalogFailure(db_.get(), "read the albums");
  SqliteStatement select(db_.get(),
                         "SELECT c.identifier, c.title, (SELECT COALESCE(SUM(t.n), 0) FROM tally t "
                         "WHERE t.collection_id = c.id), COALESCE((SELECT 0 FROM folder f WHERE f.collection_id = c.id), "
                         "(SELECT s.kind FROM source_album sa JOIN source s ON s.id = sa.source_id "
                         "WHERE sa.collection_id = c.id)) "
                         "FROM collection c WHERE c.type = :type ORDER BY c.id");
  select.bind(":type", CollectionType::album);
  while (select.step()) {
    std::optional<SourceKind> source;
    if (auto kind = select.optionalInteger(3)) source = static_cast<SourceKind>(*kind);
    result.push_back({select.text(0), select.optionalText(1), select.integer(2), source});
  }
  if (select.failed()) return catalogFailure(db_.get(), "read the albums");
  return result;
}

Status CatalogWriter::renameAlbum(std::int64_t album, const std::optional<std::string>& title) {
  std::optional<std::string> cleanTitle;
  if (title) cleanTitle = validUtf8(*title);
  SqliteStatement update(db_.get(), "UPDATE collection SET title = :title WHERE id = :album");
  update.bind(":title", cleanTitle).bind(":album", album);
  if (!update.run()) return catalogFailure(db_.get(), "rename the album");
  return {};
}

Status CatalogWriter::deleteAlbum(std::int64_t album) {
  const char* what = "delete the album";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  for (const char* sql :
       {"DELETE FROM membership WHERE collection_id = :album", "DELETE FROM tally WHERE collection_id = :album",
        "DELETE FROM collection WHERE id = :album"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":album", album);
    if (!remove.run()) return catalogFailure(db_.get(), what);
  }
  return transaction->commit();
}

Status CatalogWriter::removeAssets(const std::vector<std::int64_t>& assets, std::vector<std::string>& unlinkAfter) {
  const char* what = "remove the assets";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  std::vector<std::string> unlink;
  for (const std::int64_t asset : assets) {
    if (Status deleted = deleteAsset(asset, unlink, what); !deleted) return deleted;
  }
  if (!pruneEmptyCollections()) return catalogFailure(db_.get(), what);
  if (Status committed = transaction->commit(); !committed) return committed;
  unlinkAfter.insert(unlinkAfter.end(), unlink.begin(), unlink.end());
  return {};
}

Result<CatalogWriter::Counts> CatalogWriter::counts() {
  Counts counts;
  SqliteStatement select(db_.get(),
                         "SELECT (SELECT COUNT(*) FROM asset), (SELECT COUNT(*) FROM collection WHERE type = :type)");
  select.bind(":type", CollectionType::album);
  SqliteStatement version(db_.get(), "PRAGMA user_version");
  if (!select.step() || !version.step()) return catalogFailure(db_.get(), "count the assets");
  counts.assets = select.integer(0);
  counts.albums = select.integer(1);
  counts.schemaVersion = version.integer(0);
  return counts;
}

}  // namespace tolvek
