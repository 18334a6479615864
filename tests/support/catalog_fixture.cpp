#include "support/catalog_fixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "library/photo_types.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/posix/path_text.h"
#include "platform/system/library_location.h"
#include "platform/library_writer.h"

namespace tolvek::testing {
namespace {

using namespace tolvek::catalog;

std::string albumIdentifier(int a) {
  char id[64];
  std::snprintf(id, sizeof id, "%08X-1111-4000-8000-%012X/L0/040", static_cast<unsigned>(a) * 40503u, a);
  return id;
}

std::string momentIdentifier(std::int64_t dayNumber) {
  char id[64];
  std::snprintf(id, sizeof id, "%08X-2222-4000-8000-%012llX/L0/040", static_cast<unsigned>(dayNumber),
                static_cast<unsigned long long>(dayNumber));
  return id;
}

std::string utcDay(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm day{};
  gmtime_r(&t, &day);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &day);
  return text;
}

// "INSERT INTO table (a, b) VALUES (:a, :b)" for the named columns, run
// with the values of a row in the columns' order.
class Insert {
 public:
  Insert(const char* table, std::initializer_list<const char*> columns) {
    std::string names, values;
    for (const char* c : columns) {
      names += std::string(names.empty() ? "" : ", ") + c;
      values += std::string(values.empty() ? ":" : ", :") + c;
      parameters_.push_back(std::string(":") + c);
    }
    sql_ = std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + values + ")";
  }
  template <class... Values>
  bool run(sqlite3* db, StatementCache& cache, const Values&... values) const {
    SqliteStatement statement(db, cache, sql_);
    std::size_t i = 0;
    (statement.bind(parameters_[i++].c_str(), values), ...);
    return statement.run();
  }

 private:
  std::string sql_;
  std::vector<std::string> parameters_;
};

struct BulkKind {
  MediaType mediaType;
  ResourceType resource;
  const char* suffix;
  const char* typeIdentifier;
};

}  // namespace

Result<CatalogFixture> CatalogFixture::open(const std::string& catalogPath) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(catalogPath.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) {
    return Status::error("cannot open " + catalogPath + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
  }
  sqlite3_busy_timeout(db.get(), 5000);
  return CatalogFixture(std::move(db));
}

Status CatalogFixture::overwriteRootPage(const std::string& catalogPath, const std::string& name) {
  std::error_code ec;
  if (std::filesystem::file_size(catalogPath + "-wal", ec) > 0 && !ec) {
    return Status::error(catalogPath + " has a log: a writer still has it open");
  }
  std::int64_t pageSize = 0, rootPage = 0;
  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(catalogPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    SqliteConnection db(raw);
    if (rc != SQLITE_OK) return Status::error("cannot open " + catalogPath);
    SqliteStatement size(db.get(), "PRAGMA page_size");
    SqliteStatement root(db.get(), "SELECT rootpage FROM sqlite_master WHERE name = :name");
    root.bind(":name", name);
    if (!size.step() || !root.step()) return Status::error("no table or index " + name + " in " + catalogPath);
    pageSize = size.integer(0);
    rootPage = root.integer(0);
  }
  std::fstream file(catalogPath, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp((rootPage - 1) * pageSize);
  const std::string garbage(static_cast<std::size_t>(pageSize), '\xff');
  file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  file.close();
  if (!file) return Status::error("cannot write " + catalogPath);
  return {};
}

Status CatalogFixture::run(SqliteStatement& statement) {
  if (!statement.run()) return Status::error(sqlite3_errmsg(db_.get()));
  return {};
}

Status CatalogFixture::execute(const std::string& sql) {
  if (!executeSql(db_.get(), sql.c_str())) return Status::error(sqlite3_errmsg(db_.get()) + (": " + sql));
  return {};
}

std::string CatalogFixture::bulkAssetIdentifier(int i) {
  char id[64];
  std::snprintf(id, sizeof id, "%08X-0000-4000-8000-%012X/L0/001", static_cast<unsigned>(i) * 2654435761u, i);
  return id;
}

Result<std::vector<std::string>> CatalogFixture::fillBulk(const Bulk& bulk) {
  static constexpr BulkKind kPicture{MediaType::image, ResourceType::photo, "JPG", "public.jpeg"};
  static constexpr BulkKind kVideo{MediaType::video, ResourceType::video, "MOV", "com.apple.quicktime-movie"};
  static constexpr BulkKind kAudio{MediaType::audio, ResourceType::audio, "M4A", "com.apple.m4a-audio"};
  sqlite3* db = db_.get();
  StatementCache cache;
  if (Status s = execute("PRAGMA synchronous = OFF"); !s) return s;
  if (Status s = execute("BEGIN"); !s) return s;
  auto fail = [&](Status failure = {}) -> Status {
    if (failure.ok()) failure = Status::error(sqlite3_errmsg(db));
    executeSql(db, "ROLLBACK");
    return failure;
  };

  const Insert addCollection(kCollection.table, {kCollection.identifier, kCollection.type, kCollection.subtype,
                                                 kCollection.title, kCollection.rule, kCollection.day});
  std::vector<std::string> albumIds;
  std::vector<std::int64_t> albumRows;
  for (int a = 0; a < bulk.albums; ++a) {
    albumIds.push_back(albumIdentifier(a));
    if (!addCollection.run(db, cache, albumIds.back(), CollectionType::album, CollectionSubtype::albumRegular,
                           "Album " + std::to_string(a), CollectionRule::members, std::optional<std::string>())) {
      return fail();
    }
    albumRows.push_back(sqlite3_last_insert_rowid(db));
  }

  const Insert addAsset(kAsset.table,
                        {kAsset.id, kAsset.identifier, kAsset.mediaType, kAsset.creationDate, kAsset.favorite});
  const Insert addResource(kResource.table,
                           {kResource.assetId, kResource.position, kResource.type, kResource.originalFilename,
                            kResource.uniformTypeIdentifier, kResource.path, kResource.size, kResource.sha256});
  const Insert addDerivative(kDerivative.table, {kDerivative.assetId, kDerivative.path, kDerivative.width,
                                                 kDerivative.height, kDerivative.size});
  const Insert addMember(kMembership.table, {kMembership.collectionId, kMembership.assetId, kMembership.position,
                                             kMembership.identifier, kMembership.creationDate, kMembership.mediaType});

  std::mt19937_64 random(42);
  const std::int64_t start = 1400000000;
  std::vector<std::int64_t> albumSize(albumRows.size(), 0);
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> moments;  // day: row, size
  for (int i = 0; i < bulk.assets; ++i) {
    const std::uint64_t r = random();
    const BulkKind& kind = r % 100 < 90 ? kPicture : r % 100 < 98 ? kVideo : kAudio;
    std::optional<std::int64_t> date;
    if (r % 20 != 0) date = start + static_cast<std::int64_t>(random() % (10ull * 365 * 86400));
    const std::int64_t row = i + 1;
    const std::string identifier = bulkAssetIdentifier(i);
    const AssetFilePaths paths = assetFilePaths(identifier);
    if (!addAsset.run(db, cache, row, identifier, kind.mediaType, date, std::int64_t{r % 50 == 0})) return fail();

    char name[32], hash[72];
    std::snprintf(name, sizeof name, "IMG_%05d.%s", i, kind.suffix);
    std::snprintf(hash, sizeof hash, "%064llx", static_cast<unsigned long long>(r));
    if (!addResource.run(db, cache, row, std::int64_t{0}, kind.resource, std::string_view(name), kind.typeIdentifier,
                         paths.originalStem + copyExtension(name, kind.typeIdentifier),
                         static_cast<std::int64_t>(100000 + r % 5000000), std::string_view(hash))) {
      return fail();
    }
    if (kind.mediaType != MediaType::audio) {
      for (const auto& [suffix, width, height] : {std::tuple{"-240.jpg", 320, 240}, std::tuple{"-512.jpg", 683, 512}}) {
        if (!addDerivative.run(db, cache, row, paths.derivativePrefix + suffix, std::int64_t{width},
                               std::int64_t{height}, static_cast<std::int64_t>(width * height / 8))) {
          return fail();
        }
      }
    }

    auto member = [&](std::int64_t collection, std::int64_t position) {
      return addMember.run(db, cache, collection, row, position, identifier, date, kind.mediaType);
    };
    if (!albumRows.empty()) {
      const std::size_t album =
          i % 5 == 0 || albumRows.size() < 2 ? 0 : 1 + static_cast<std::size_t>(random() % (albumRows.size() - 1));
      if (!member(albumRows[album], ++albumSize[album])) return fail();
    }
    if (date) {
      const std::string day = utcDay(*date);
      auto found = moments.find(day);
      if (found == moments.end()) {
        if (!addCollection.run(db, cache, momentIdentifier(*date / 86400), CollectionType::moment,
                               CollectionSubtype::moment, std::optional<std::string>(), CollectionRule::members, day)) {
          return fail();
        }
        found = moments.emplace(day, std::pair{sqlite3_last_insert_rowid(db), std::int64_t{0}}).first;
      }
      if (!member(found->second.first, ++found->second.second)) return fail();
    }
  }
  cache.clear();
  if (Status s = execute("COMMIT"); !s) return fail(s);
  if (Status s = execute("ANALYZE"); !s) return s;
  return albumIds;
}

template <class Value>
Status CatalogFixture::setAssetColumn(const std::string& identifier, const char* assetColumn,
                                      const char* memberColumn, const Value& value) {
  if (Status s = execute("BEGIN"); !s) return s;
  SqliteStatement members(db_.get(), std::string("UPDATE ") + kMembership.table + " SET " + memberColumn +
                                         " = :value WHERE " + kMembership.identifier + " = :identifier");
  members.bind(":value", value).bind(":identifier", identifier);
  SqliteStatement asset(db_.get(), std::string("UPDATE ") + kAsset.table + " SET " + assetColumn +
                                       " = :value WHERE " + kAsset.identifier + " = :identifier");
  asset.bind(":value", value).bind(":identifier", identifier);
  Status done = run(members);
  if (done) done = run(asset);
  if (!done) {
    executeSql(db_.get(), "ROLLBACK");
    return done;
  }
  return execute("COMMIT");
}

Status CatalogFixture::setAssetIdentifier(const std::string& identifier, std::string_view bytes) {
  return setAssetColumn(identifier, kAsset.identifier, kMembership.identifier, bytes);
}

Status CatalogFixture::setCreationDate(const std::string& identifier, std::int64_t date) {
  return setAssetColumn(identifier, kAsset.creationDate, kMembership.creationDate, date);
}

Status CatalogFixture::setCollectionIdentifier(const std::string& identifier, std::string_view bytes) {
  SqliteStatement update(db_.get(), std::string("UPDATE ") + kCollection.table + " SET " + kCollection.identifier +
                                        " = :bytes WHERE " + kCollection.identifier + " = :identifier");
  update.bind(":bytes", bytes).bind(":identifier", identifier);
  return run(update);
}

Status CatalogFixture::setOriginalFilename(const std::string& identifier, std::string_view name) {
  SqliteStatement update(db_.get(), std::string("UPDATE ") + kResource.table + " SET " + kResource.originalFilename +
                                        " = :name WHERE " + kResource.assetId + " = (SELECT " + kAsset.id + " FROM " +
                                        kAsset.table + " WHERE " + kAsset.identifier + " = :identifier)");
  update.bind(":name", name).bind(":identifier", identifier);
  if (Status s = run(update); !s) return s;
  if (sqlite3_changes(db_.get()) == 0) return Status::error("no original of " + identifier);
  return {};
}

Status CatalogFixture::setSchemaVersion(std::int64_t version) {
  return execute("PRAGMA user_version = " + std::to_string(version));
}

Status CatalogFixture::downgradeToVersion(std::int64_t version) {
  // Version 7's indexes leave out the halves of pairs; version 6's did not.
  std::string sql =
      "DROP INDEX asset_pair; DROP INDEX asset_newest; DROP INDEX asset_by_type; DROP INDEX asset_favorites;"
      "DROP INDEX asset_lookup; CREATE INDEX asset_lookup ON asset(identifier, media_type, creation_date);"
      "CREATE INDEX asset_newest ON asset(creation_date, id, media_type, identifier);"
      "CREATE INDEX asset_by_type ON asset(media_type, creation_date, id, identifier);"
      "CREATE INDEX asset_favorites ON asset(creation_date, id, media_type, identifier) WHERE favorite = 1;";
  for (const char* table : kTablesAddedInVersion7) sql += std::string("DROP TABLE ") + table + ";";
  for (const CatalogColumn& c : kColumnsAddedInVersion7) {
    sql += std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column + ";";
  }
  for (const CatalogColumn& c : kColumnsAddedInVersion6) {
    if (version < 6) sql += std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column + ";";
  }
  if (version < 5) {
    for (const char* table : kTablesAddedInVersion5) sql += std::string("DROP TABLE ") + table + ";";
    for (const CatalogColumn& c : kColumnsAddedInVersion5) {
      sql += std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column + ";";
    }
  }
  if (version < 4) {
    sql += "DROP TRIGGER membership_retyped; DROP INDEX resource_content;";
    for (const char* table : kTablesAddedInVersion4) sql += std::string("DROP TABLE ") + table + ";";
    for (const CatalogColumn& c : kColumnsAddedInVersion4) {
      sql += std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column + ";";
    }
  }
  for (const CatalogColumn& c : kColumnsAddedInVersion3) {
    if (version < 3) sql += std::string("ALTER TABLE ") + c.table + " DROP COLUMN " + c.column + ";";
  }
  if (Status s = execute(sql); !s) return s;
  return setSchemaVersion(version);
}

Status CatalogFixture::renameSourceFile(const std::string& from, const std::string& to) {
  if (Status s = execute("BEGIN"); !s) return s;
  SqliteStatement name(db_.get(), std::string("UPDATE ") + kResource.table + " SET " + kResource.originalFilename +
                                      " = :name WHERE " + kResource.position + " = 0 AND " + kResource.assetId +
                                      " = (SELECT " + kFile.assetId + " FROM " + kFile.table + " WHERE " +
                                      kFile.path + " = :from)");
  name.bind(":name", std::string_view(namePart(to))).bindBytes(":from", from);
  SqliteStatement path(db_.get(), std::string("UPDATE ") + kFile.table + " SET " + kFile.path + " = :to WHERE " +
                                      kFile.path + " = :from");
  path.bindBytes(":to", to).bindBytes(":from", from);
  Status renamed = run(name);
  if (renamed && sqlite3_changes(db_.get()) != 1) renamed = Status::error("no asset recorded at " + from);
  if (renamed) renamed = run(path);
  if (!renamed) {
    (void)execute("ROLLBACK");
    return renamed;
  }
  return execute("COMMIT");
}

Result<std::string> CatalogFixture::halfOf(const std::string& pair) {
  SqliteStatement select(db_.get(), std::string("SELECT h.") + kAsset.identifier + " FROM " + kAsset.table +
                                        " h JOIN " + kAsset.table + " p ON h." + kAsset.pairedTo + " = p." +
                                        kAsset.id + " WHERE p." + kAsset.identifier + " = :pair LIMIT 1");
  select.bind(":pair", std::string_view(pair));
  if (select.step()) return select.text(0);
  return Status::error("no half paired to " + pair);
}

Status CatalogFixture::refuseInsertsInto(const char* table) {
  return execute(std::string("CREATE TRIGGER refuse_") + table + " BEFORE INSERT ON " + table +
                 " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
}

Status CatalogFixture::lockExclusively() {
  if (Status s = execute("PRAGMA locking_mode = EXCLUSIVE"); !s) return s;
  if (Status s = execute("BEGIN EXCLUSIVE"); !s) return s;
  return execute(std::string("UPDATE ") + kAsset.table + " SET " + kAsset.favorite + " = 1");
}

Status CatalogFixture::rollBack() { return execute("ROLLBACK"); }

}  // namespace tolvek::testing
