// Fetch times on a catalog of 100,000 assets and 1,000 albums, with the
// query plan of each query, the time the library tool's writer takes to open
// it, and the import throughput of the library tool on the real samples.
//   catalog_bench [--assets N] [--albums N] [--folders N] [--runs N]
// With --fill DATA_HOME it only creates and fills the library under that XDG
// data home (for bench/helper/run.sh) and exits. --folders N (default 0)
// adds a folder source of N folders holding every asset, one file each, so
// that the library has N albums of folders besides its N albums.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/access/access_store.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/linux_photo_library.h"
#include "support/catalog_fixture.h"

using namespace tolvek;
namespace fs = std::filesystem;

namespace {

struct Settings {
  int assets = 100000;
  int albums = 1000;
  int folders = 0;
  int runs = 21;
};

std::string assetId(int i) { return testing::CatalogFixture::bulkAssetIdentifier(i); }

// The rows a sync of a folder source of `folders` folders under
// /bench/Pictures would leave, in one transaction, with every name from
// catalog_schema.h: the source, each folder ("YYYY/Folder NNNNN") with its
// album (as the writer names and titles them), and each asset (row i goes to
// folder i modulo `folders`) as one file in it and a member of its album.
Status addFolderSource(const std::string& catalogPath, int folders) {
  using namespace catalog;
  sqlite3* raw = nullptr;
  sqlite3_open_v2(catalogPath.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection db(raw);
  const auto sql = [](std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
  };
  const std::string root = "/bench/Pictures";
  if (!executeSql(db.get(), "BEGIN")) return Status::error(sqlite3_errmsg(db.get()));
  SqliteStatement source(db.get(), sql({"INSERT INTO ", kSource.table, " (", kSource.path, ", ", kSource.kind,
                                        ") VALUES (:path, :kind)"}));
  source.bindBytes(":path", root).bind(":kind", SourceKind::folder);
  if (!source.run()) return Status::error(sqlite3_errmsg(db.get()));
  const std::int64_t sourceRow = sqlite3_last_insert_rowid(db.get());
  StatementCache cache;
  std::vector<std::pair<std::int64_t, std::int64_t>> folderRows;  // folder, album
  for (int f = 0; f < folders; ++f) {
    char relative[48];
    std::snprintf(relative, sizeof relative, "%d/Folder %05d", 2010 + f % 10, f);
    SqliteStatement album(db.get(), cache,
                          sql({"INSERT INTO ", kCollection.table, " (", kCollection.identifier, ", ", kCollection.type,
                               ", ", kCollection.subtype, ", ", kCollection.title, ", ", kCollection.rule,
                               ") VALUES (:identifier, :type, :subtype, :title, :rule)"}));
    album.bind(":identifier", folderCollectionIdentifier(root + "/" + relative))
        .bind(":type", CollectionType::album)
        .bind(":subtype", CollectionSubtype::albumSyncedFolder)
        .bind(":title", std::string_view(relative))
        .bind(":rule", CollectionRule::members);
    if (!album.run()) return Status::error(sqlite3_errmsg(db.get()));
    const std::int64_t albumRow = sqlite3_last_insert_rowid(db.get());
    SqliteStatement folder(db.get(), cache,
                           sql({"INSERT INTO ", kFolder.table, " (", kFolder.sourceId, ", ", kFolder.path, ", ",
                                kFolder.collectionId, ") VALUES (:source, :path, :album)"}));
    folder.bind(":source", sourceRow).bindBytes(":path", relative).bind(":album", albumRow);
    if (!folder.run()) return Status::error(sqlite3_errmsg(db.get()));
    folderRows.emplace_back(sqlite3_last_insert_rowid(db.get()), albumRow);
  }
  SqliteStatement file(db.get(), sql({"INSERT INTO ", kFile.table, " (", kFile.sourceId, ", ", kFile.folderId, ", ",
                                      kFile.path, ", ", kFile.assetId, ", ", kFile.size, ", ", kFile.modifiedNs, ", ",
                                      kFile.inode, ") SELECT :source, fo.", kFolder.id, ", CAST(fo.", kFolder.path,
                                      " || '/' || r.", kResource.originalFilename, " AS BLOB), a.", kAsset.id, ", r.",
                                      kResource.size, ", 0, a.", kAsset.id, " FROM ", kAsset.table, " a JOIN ",
                                      kResource.table, " r ON r.", kResource.assetId, " = a.", kAsset.id, " AND r.",
                                      kResource.position, " = 0 JOIN ", kFolder.table, " fo ON fo.", kFolder.id,
                                      " = :first + (a.", kAsset.id, " - 1) % :folders"}));
  file.bind(":source", sourceRow).bind(":first", folderRows.front().first).bind(":folders", std::int64_t{folders});
  SqliteStatement members(
      db.get(), sql({"INSERT INTO ", kMembership.table, " (", kMembership.collectionId, ", ", kMembership.assetId, ", ",
                     kMembership.position, ", ", kMembership.identifier, ", ", kMembership.creationDate, ", ",
                     kMembership.mediaType, ") SELECT fo.", kFolder.collectionId, ", a.", kAsset.id, ", a.", kAsset.id,
                     ", a.", kAsset.identifier, ", a.", kAsset.creationDate, ", a.", kAsset.mediaType, " FROM ",
                     kAsset.table, " a JOIN ", kFolder.table, " fo ON fo.", kFolder.id, " = :first + (a.", kAsset.id,
                     " - 1) % :folders"}));
  members.bind(":first", folderRows.front().first).bind(":folders", std::int64_t{folders});
  if (!file.run() || !members.run() || !executeSql(db.get(), "COMMIT") || !executeSql(db.get(), "ANALYZE")) {
    return Status::error(sqlite3_errmsg(db.get()));
  }
  return {};
}

// Creates the catalog with the library's writer, then fills it with the
// fixture's bulk rows (see CatalogFixture::fillBulk) and the folder source.
bool buildCatalog(const LibraryLocation& location, const Settings& s, std::vector<std::string>& albumIds) {
  if (auto writer = CatalogWriter::open(location); !writer) {
    std::fprintf(stderr, "%s\n", writer.message().c_str());
    return false;
  }  // closed again: the fixture writes alone
  auto fixture = testing::CatalogFixture::open(location.catalogPath);
  if (!fixture) {
    std::fprintf(stderr, "%s\n", fixture.message().c_str());
    return false;
  }
  auto albums = fixture->fillBulk({.assets = s.assets, .albums = s.albums});
  if (!albums) {
    std::fprintf(stderr, "cannot fill the catalog: %s\n", albums.message().c_str());
    return false;
  }
  albumIds = std::move(albums).value();
  if (s.folders > 0) {
    if (Status added = addFolderSource(location.catalogPath, s.folders); !added) {
      std::fprintf(stderr, "cannot add the folder source: %s\n", added.message().c_str());
      return false;
    }
  }
  return true;
}

// The median of `runs` runs; `first` gets the first run's time (a cold page
// cache of the connection, as in a helper that starts for one request).
double milliseconds(const std::function<void()>& work, int runs, double* first = nullptr) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  if (first != nullptr) *first = times.front();
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void printPlan(sqlite3* db, const std::string& sql, const AssetQuery& query) {
  SqliteStatement plan(db, "EXPLAIN QUERY PLAN " + sql);
  CatalogReader::bindAssetQuery(plan, query);
  std::printf("    %s\n", sql.c_str());
  while (plan.step()) std::printf("      plan: %s\n", plan.text(3).c_str());
}

void printCollectionPlan(sqlite3* db, const char* sql) {
  SqliteStatement plan(db, std::string("EXPLAIN QUERY PLAN ") + sql);
  plan.bind(":type", CollectionType::album);
  std::printf("    %s\n", sql);
  while (plan.step()) std::printf("      plan: %s\n", plan.text(3).c_str());
}

std::size_t enumerate(const FetchResult<Asset>& result) {
  std::size_t n = 0;
  result.enumerateObjects([&n](const Asset& a, std::size_t, bool&) { n += a.localIdentifier.size() > 0; });
  return n;
}

void benchImport(const std::string& toolPath, const std::string& scratch) {
  const std::string samples = TOLVEK_SAMPLES_DIR;
  if (!fs::exists(samples)) {
    std::printf("\nimport: no samples at %s, skipped\n", samples.c_str());
    return;
  }
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(samples)) {
    files += e.is_regular_file() && e.path().filename() != "README.md";
  }
  const std::string home = scratch + "/import-home";
  const std::string out = scratch + "/import.out";
  const std::string command = "XDG_DATA_HOME='" + home + "' '" + toolPath + "' import '" + samples + "' >'" + out +
                              "' 2>/dev/null";
  const auto t0 = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::size_t imported = 0;
  if (FILE* f = std::fopen(out.c_str(), "r")) {
    for (int c; (c = std::fgetc(f)) != EOF;) imported += c == '\n';
    std::fclose(f);
  }
  std::printf("\nimport of the real samples (%zu files, %zu imported, tool exit %d):\n", files, imported,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf("  %.2f s, %.1f photos/s (copy, probe, derivatives, one transaction each)\n", seconds,
              static_cast<double>(imported) / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  std::string fillOnly;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (flag == "--assets") s.assets = std::max(value, 1);
    if (flag == "--albums") s.albums = std::max(value, 2);
    if (flag == "--folders") s.folders = std::max(value, 0);
    if (flag == "--runs") s.runs = std::max(value, 1);
    if (flag == "--fill") fillOnly = argv[i + 1];
  }
  if (!fillOnly.empty()) {
    std::vector<std::string> albumIds;
    return buildCatalog(libraryLocationIn(fillOnly), s, albumIds) ? 0 : 1;
  }
  char pattern[] = "/tmp/tolvek-catalog-bench-XXXXXX";
  const std::string scratch = ::mkdtemp(pattern);
  const LibraryLocation location = libraryLocationIn(scratch + "/data");

  std::vector<std::string> albumIds;
  const auto b0 = std::chrono::steady_clock::now();
  if (!buildCatalog(location, s, albumIds)) return 1;
  std::printf("catalog: %d assets, %d albums, built in %.1f s (%s)\n", s.assets, s.albums,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count(),
              location.catalogPath.c_str());
  if (Status granted = AccessStore(location.accessStorePath)
                          .write(kHelperBundleIdentifier, AccessAnswer{AuthorizationStatus::authorized, {}});
      !granted) {
    std::fprintf(stderr, "catalog_bench: %s\n", granted.message().c_str());
    return 1;
  }

  LinuxPhotoLibrary library(location, kHelperBundleIdentifier, "benchmark");
  sqlite3* raw = nullptr;
  sqlite3_open_v2(location.catalogPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  SqliteConnection plans(raw);

  FetchOptions newest500;
  newest500.newestFirst = true;
  newest500.mediaTypes = {MediaType::image, MediaType::video};
  newest500.fetchLimit = 500;
  FetchOptions counted;
  counted.newestFirst = true;
  counted.mediaTypes = {MediaType::image, MediaType::video};

  std::printf("\ninside the process; median of %d runs (first run, cold connection, in brackets):\n", s.runs);
  std::size_t n = 0;
  double first = 0;
  double ms = milliseconds([&] { n = enumerate(*library.fetchAssets(newest500)); }, s.runs, &first);
  std::printf("  newest 500 of the library: %.3f ms [%.3f] (%zu assets)\n", ms, first, n);
  AssetQuery q;
  q.mediaTypeMask = mediaTypeMask(newest500.mediaTypes);
  q.newestFirst = true;
  q.limit = 500;
  printPlan(plans.get(), CatalogReader::assetSql(q), q);

  const AssetCollection big = *library.fetchAssetCollectionsWithLocalIdentifiers({albumIds[0]})->firstObject();
  ms = milliseconds([&] { n = enumerate(*library.fetchAssetsInAssetCollection(big, newest500)); }, s.runs, &first);
  std::printf("  newest 500 of an album of %zu: %.3f ms [%.3f] (%zu assets)\n",
              library.fetchAssetsInAssetCollection(big, FetchOptions{})->count(), ms, first, n);
  const AssetCollection small = *library.fetchAssetCollectionsWithLocalIdentifiers({albumIds[1]})->firstObject();
  ms = milliseconds([&] { n = enumerate(*library.fetchAssetsInAssetCollection(small, newest500)); }, s.runs);
  std::printf("  newest 500 of an album of %zu: %.3f ms (%zu assets)\n",
              library.fetchAssetsInAssetCollection(small, FetchOptions{})->count(), ms, n);
  q.scope = AssetScope::members;
  {
    auto reader = CatalogReader::open(location);
    q.collection = reader->collectionSource(big)->row;
  }
  printPlan(plans.get(), CatalogReader::assetSql(q), q);

  std::size_t albums = 0, total = 0;
  ms = milliseconds(
      [&] {
        albums = 0;
        total = 0;
        library.fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
            ->enumerateObjects([&](const AssetCollection& c, std::size_t, bool&) {
              ++albums;
              total += library.fetchAssetsInAssetCollection(c, counted)->count();
            });
      },
      s.runs, &first);
  std::printf("  the count of every album (%zu albums, %zu pictures and videos): %.3f ms [%.3f], %.4f ms per album\n",
              albums, total, ms, first, ms / static_cast<double>(albums));
  printCollectionPlan(plans.get(), "SELECT id, identifier, type, subtype, title FROM collection WHERE type = :type ORDER BY id");
  AssetQuery c = q;
  c.limit = 0;
  printPlan(plans.get(), CatalogReader::countSql(c), c);

  std::vector<std::string> wanted;
  std::mt19937 random(7);
  for (int i = 0; i < 500; ++i) wanted.push_back(assetId(static_cast<int>(random() % static_cast<unsigned>(s.assets))));
  ms = milliseconds([&] { n = enumerate(*library.fetchAssetsWithLocalIdentifiers(wanted)); }, s.runs, &first);
  std::printf("  lookup of 500 identifiers: %.3f ms [%.3f] (%zu found)\n", ms, first, n);
  {
    // A new run: the connection's page cache is empty, the file is in the
    // system's cache. One identifier first, then 500 others.
    LinuxPhotoLibrary fresh(location, kHelperBundleIdentifier, "benchmark");
    std::vector<std::string> other;
    for (int i = 0; i < 500; ++i) other.push_back(assetId(static_cast<int>(random() % static_cast<unsigned>(s.assets))));
    const double one = milliseconds([&] { n = enumerate(*fresh.fetchAssetsWithLocalIdentifiers({other[0]})); }, 1);
    const double many = milliseconds([&] { n = enumerate(*fresh.fetchAssetsWithLocalIdentifiers(other)); }, 1);
    std::printf("  in a new run: lookup of 1 identifier %.3f ms, then of 500 others %.3f ms (%zu found)\n", one, many,
                n);
  }
  AssetQuery ids;
  ids.scope = AssetScope::identifiers;
  ids.identifiersJson = "[]";
  printPlan(plans.get(), CatalogReader::assetSql(ids), ids);

  if (Status limitedAccess = AccessStore(location.accessStorePath)
                                .write(kHelperBundleIdentifier,
                                       AccessAnswer{AuthorizationStatus::limited,
                                                    std::vector<std::string>(wanted.begin(), wanted.begin() + 200)});
      !limitedAccess) {
    std::fprintf(stderr, "catalog_bench: %s\n", limitedAccess.message().c_str());
    return 1;
  }
  LinuxPhotoLibrary limited(location, kHelperBundleIdentifier, "benchmark");
  ms = milliseconds([&] { n = enumerate(*limited.fetchAssets(newest500)); }, s.runs, &first);
  std::printf("  newest 500 with limited access to 200 assets: %.3f ms [%.3f] (%zu assets)\n", ms, first, n);

  // The tool's writer checks the catalog (SQLite's quick check, which reads
  // all of it) only when something other than a writer changed it since.
  const auto openWriter = [&] {
    if (!CatalogWriter::open(location)) std::fprintf(stderr, "catalog_bench: the writer cannot open the catalog\n");
  };
  openWriter();  // leaves it recorded as sound
  ms = milliseconds(openWriter, s.runs);
  std::printf("\nthe library tool's writer:\n  open of a catalog as a writer left it: %.3f ms\n", ms);
  ms = milliseconds(
      [&] {
        // A change of the file's times, as any write by another program, moves its change time.
        fs::last_write_time(location.catalogPath, fs::last_write_time(location.catalogPath));
        openWriter();
      },
      s.runs);
  std::printf("  open after another program changed it (quick check): %.3f ms\n", ms);

  const std::string tool = (fs::path(fs::read_symlink("/proc/self/exe")).parent_path() / "tolvek-photos-library").string();
  benchImport(tool, scratch);
  fs::remove_all(scratch);
  return 0;
}
