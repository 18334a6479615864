#include "support/manager_fixture.h"

#include <sqlite3.h>

#include "platform/catalog/sqlite_statement.h"

namespace tolvek::testing {
namespace {

// Shotwell 0.30's own statements for the tables it reads and writes most.
constexpr char kShotwellSchema[] = R"sql(
CREATE TABLE VersionTable (id INTEGER PRIMARY KEY, schema_version INTEGER, app_version TEXT, user_data TEXT NULL);
CREATE TABLE PhotoTable (id INTEGER PRIMARY KEY, filename TEXT UNIQUE NOT NULL, width INTEGER, height INTEGER,
  filesize INTEGER, timestamp INTEGER, exposure_time INTEGER, orientation INTEGER, original_orientation INTEGER,
  import_id INTEGER, event_id INTEGER, transformations TEXT, md5 TEXT, thumbnail_md5 TEXT, exif_md5 TEXT,
  time_created INTEGER, flags INTEGER DEFAULT 0, rating INTEGER DEFAULT 0, file_format INTEGER DEFAULT 0, title TEXT,
  backlinks TEXT, time_reimported INTEGER, editable_id INTEGER DEFAULT -1, metadata_dirty INTEGER DEFAULT 0,
  developer TEXT, develop_shotwell_id INTEGER DEFAULT -1, develop_camera_id INTEGER DEFAULT -1,
  develop_embedded_id INTEGER DEFAULT -1, comment TEXT);
CREATE TABLE EventTable (id INTEGER PRIMARY KEY, name TEXT, primary_photo_id INTEGER, time_created INTEGER,
  primary_source_id TEXT, comment TEXT);
CREATE TABLE TagTable (id INTEGER PRIMARY KEY, name TEXT UNIQUE NOT NULL, photo_id_list TEXT, time_created INTEGER);
CREATE TABLE VideoTable (id INTEGER PRIMARY KEY, filename TEXT UNIQUE NOT NULL, width INTEGER, height INTEGER,
  clip_duration REAL, is_interpretable INTEGER, filesize INTEGER, timestamp INTEGER, exposure_time INTEGER,
  import_id INTEGER, event_id INTEGER, md5 TEXT, time_created INTEGER, rating INTEGER DEFAULT 0, title TEXT,
  backlinks TEXT, time_reimported INTEGER, flags INTEGER DEFAULT 0, comment TEXT);
CREATE TABLE TombstoneTable (id INTEGER PRIMARY KEY, filepath TEXT NOT NULL, filesize INTEGER, md5 TEXT,
  time_created INTEGER, reason INTEGER DEFAULT 0);
CREATE INDEX PhotoEventIDIndex ON PhotoTable (event_id);
CREATE INDEX VideoEventIDIndex ON VideoTable (event_id);
INSERT INTO VersionTable (id, schema_version, app_version) VALUES (1, 20, '0.30.17');
)sql";

// A 32-digit hex digest that differs per row and per salt.
std::string md5Of(const char* id, int salt) {
  return "printf('%08x%08x%08x%08x', (" + std::string(id) + " * 2654435761 + " + std::to_string(salt) +
         ") % 4294967296, " + id + " * 40503 % 4294967296, (" + id + " + " + std::to_string(salt) +
         ") * 2246822519 % 4294967296, " + id + ")";
}

}  // namespace

std::string sqlQuoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

Status executeSqlOn(const std::string& path, const std::string& sql) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  SqliteConnection db(raw);
  if (opened != SQLITE_OK) return Status::error(path + ": " + sqlite3_errstr(opened));
  char* error = nullptr;
  const std::string whole = "BEGIN;\n" + sql + "\n;COMMIT;";
  if (sqlite3_exec(db.get(), whole.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = path + ": " + (error != nullptr ? error : "error");
    sqlite3_free(error);
    return Status::error(message);
  }
  return {};
}

Status createShotwellDatabase(const std::string& path) { return executeSqlOn(path, kShotwellSchema); }

Status writeShotwellBulk(const std::string& path, const ShotwellBulk& bulk) {
  if (Status created = createShotwellDatabase(path); !created) return created;
  const std::string root = sqlQuoted(bulk.root);
  const std::string perEvent = std::to_string(bulk.photosPerEvent), tags = std::to_string(bulk.tags);
  const std::string photos =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(bulk.photos) +
      ") INSERT INTO PhotoTable (id, filename, width, height, filesize, timestamp, exposure_time, orientation,"
      " original_orientation, import_id, event_id, transformations, md5, thumbnail_md5, exif_md5, time_created, flags,"
      " rating, file_format, title, backlinks, time_reimported, developer, comment)"
      " SELECT i, " + root + " || printf('/%04d/%02d/IMG_%06d.JPG', 2000 + i % 20, 1 + i % 12, i), 4000, 3000,"
      " 2000000 + i * 7 % 1000000, 1500000000 + i * 60, CASE WHEN i % 50 = 0 THEN 0 ELSE 1000000000 + i * 3000 END,"
      " 1, 1, 1700000000 + i / 1000, 1 + (i - 1) / " + perEvent + ", NULL, " + md5Of("i", 1) + ", " + md5Of("i", 2) +
      ", " + md5Of("i", 3) + ", 1700000000 + i,"
      " CASE WHEN i % 200 = 0 THEN 4 WHEN i % 300 = 0 THEN 8 ELSE 0 END, i % 6, 0,"
      " CASE WHEN i % 10 = 0 THEN 'Photo ' || i END, '', 0, 'SHOTWELL', NULL FROM n;";
  const std::string videos =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(bulk.videos) +
      ") INSERT INTO VideoTable (id, filename, width, height, clip_duration, is_interpretable, filesize, timestamp,"
      " exposure_time, import_id, event_id, md5, time_created, flags)"
      " SELECT i, " + root + " || printf('/video/VID_%06d.MP4', i), 1920, 1080, 12.5, 1, 50000000 + i, 1500000000 + i,"
      " 1100000000 + i * 3000, 1700000000, NULL, " + md5Of("i", 4) + ", 1700000000 + i, 0 FROM n WHERE " +
      std::to_string(bulk.videos) + " > 0;";
  const std::string events =
      "INSERT INTO EventTable (id, name, primary_photo_id, time_created, primary_source_id)"
      " SELECT event_id, CASE WHEN event_id % 2 = 0 THEN 'Event ' || event_id END, MIN(id), 1700000000,"
      " printf('thumb%016x', MIN(id)) FROM PhotoTable GROUP BY event_id;";
  const std::string tagRows =
      "WITH RECURSIVE t(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM t WHERE k < " + tags +
      ") INSERT INTO TagTable (id, name, photo_id_list, time_created)"
      " SELECT k, CASE WHEN k % 2 = 1 THEN '/Places/Place ' || k ELSE 'Tag ' || k END,"
      " (SELECT group_concat(printf('thumb%016x', id), ',') || ',' FROM PhotoTable WHERE id % " + tags +
      " = k - 1), 1700000000 FROM t WHERE " + tags + " > 0;";
  return executeSqlOn(path, photos + videos + events + tagRows);
}

Status writeHostileDigikamTags(const std::string& path, const HostileTags& tags) {
  const std::string first = std::to_string(tags.firstId), loopFirst = std::to_string(tags.loopId());
  const std::string named = std::to_string(tags.longNameId());
  std::string sql =
      "DROP TRIGGER IF EXISTS insert_tagstree; DROP TRIGGER IF EXISTS move_tagstree; DROP TRIGGER IF EXISTS delete_tagstree;";
  if (tags.chain > 0) {
    sql += "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " + std::to_string(tags.chain) +
           ") INSERT INTO Tags (id, pid, name) SELECT " + first + " + i, CASE WHEN i = 0 THEN 0 ELSE " + first +
           " + i - 1 END, 'level ' || i FROM n;";
  }
  if (tags.loop > 0) {
    sql += "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " + std::to_string(tags.loop) +
           ") INSERT INTO Tags (id, pid, name) SELECT " + loopFirst + " + i, " + loopFirst + " + (i + 1) % " +
           std::to_string(tags.loop) + ", 'loop ' || i FROM n;";
  }
  if (tags.longName > 0) {
    sql += "INSERT INTO Tags (id, pid, name) VALUES (" + named + ", 0, substr(replace(hex(zeroblob(" +
           std::to_string(tags.longName / 2 + 1) + ")), '0', 'x'), 1, " + std::to_string(tags.longName) + "));" +
           "INSERT INTO Tags (id, pid, name) VALUES (" + named + " + 1, " + named + ", 'child');";
  }
  return executeSqlOn(path, sql + "INSERT INTO ImageTags (imageid, tagid) SELECT " + std::to_string(tags.image) +
                                ", id FROM Tags WHERE id >= " + first + ";");
}

}  // namespace tolvek::testing
