// What the library tool keeps in order as it writes: catalogs of the
// previous version are read by the helper and brought up to date in place,
// and files that killed imports left behind are cleared.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/catalog_reader.h"
#include "platform/catalog_schema.h"
#include "platform/content_hash.h"
#include "support/catalog_fixture.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchLibrary;

// Imports `name` (a new PNG) and returns its identifier.
std::string importPng(const ScratchLibrary& home, const std::string& name) {
  const std::string path = home.folder("media") + "/" + name;
  EXPECT_TRUE(testing::writePicture(path, "png"));
  const auto r = home.runTool({"import", path});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  const auto lines = testing::importedLines(r.out);
  return lines.empty() ? std::string() : lines.front().first;
}

// Catalogs of versions 2 (no sizes, no hashes) and 3 (no sources).
class OlderCatalog : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(OlderCatalog, IsReadThenMigratedInPlaceAfterABackup) {
  if (!testing::haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to read the catalog's version";
  const std::int64_t version = GetParam();
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string id = importPng(home, "a.png");
  ASSERT_FALSE(id.empty());
  const std::string catalog = home.location().catalogPath;
  {
    auto older = testing::CatalogFixture::open(catalog);
    ASSERT_TRUE(older) << older.message();
    ASSERT_TRUE(older->downgradeToVersion(version).ok());
  }

  auto reader = CatalogReader::open(home.location());
  ASSERT_TRUE(reader->isOpen()) << "the helper reads version " << version;
  AssetQuery everything;
  std::int64_t handle = 0;
  reader->forEachAsset(everything, [&](const Asset& asset) {
    handle = asset.handle;
    return true;
  });
  const auto old = reader->storedAsset(handle);
  ASSERT_TRUE(old);
  EXPECT_FALSE(old->original.path.empty());
  EXPECT_EQ(old->original.size.has_value(), version >= 3);
  EXPECT_EQ(old->original.sha256.empty(), version < 3);
  reader.reset();

  // Any write of the tool migrates it, filling in what it can read, after
  // keeping the catalog as it was.
  const auto r = home.runTool({"album", "create", "Later"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(testing::sqliteQuery(catalog, "PRAGMA user_version;"),
            std::optional<std::vector<std::string>>({std::to_string(kCatalogSchemaVersion)}));
  const std::string backup =
      home.location().libraryFolder + "/catalog-v" + std::to_string(version) + "-backup.sqlite";
  EXPECT_EQ(testing::sqliteQuery(backup, "PRAGMA user_version;"),
            std::optional<std::vector<std::string>>({std::to_string(version)}));
  const auto migrated = CatalogReader::open(home.location())->storedAsset(handle);
  ASSERT_TRUE(migrated);
  const auto digest = digestOfFile(migrated->original.path);
  ASSERT_TRUE(digest.ok());
  EXPECT_EQ(migrated->original.size, std::optional<std::uint64_t>(digest->size));
  EXPECT_EQ(migrated->original.sha256, digest->sha256);
  ASSERT_FALSE(migrated->derivatives.empty());
  for (const auto& d : migrated->derivatives) EXPECT_EQ(d.bytes, std::optional<std::uint64_t>(fs::file_size(d.path)));

  // Derivatives of an unknown quality are made again by the next sync.
  ASSERT_EQ(home.runTool({"add", home.folder("empty-source")}).exitStatus, 0);
  const auto renewed = CatalogReader::open(home.location())->storedAsset(handle);
  ASSERT_TRUE(renewed && !renewed->derivatives.empty());
  for (const auto& d : renewed->derivatives) {
    EXPECT_EQ(d.quality, std::optional<int>(kDerivativeQualityPercent));
    EXPECT_TRUE(fs::exists(d.path)) << d.path;
  }
  for (const auto& d : migrated->derivatives) EXPECT_FALSE(fs::exists(d.path)) << "replaced: " << d.path;
}

INSTANTIATE_TEST_SUITE_P(Versions, OlderCatalog, ::testing::Values(2, 3));

TEST(LibraryUpkeep, ImportClearsWhatKilledImportsLeft) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  ASSERT_FALSE(importPng(home, "kept.png").empty());
  const auto& where = home.location();
  std::vector<std::string> named;
  for (const auto& entry : fs::recursive_directory_iterator(where.libraryFolder))
    if (entry.is_regular_file()) named.push_back(entry.path().string());
  // A copy whose row was never committed, a half-written derivative, a link.
  fs::create_directories(where.originalsFolder + "/zz");
  fs::create_directories(where.derivativesFolder + "/zz");
  const std::vector<std::string> orphans = {where.originalsFolder + "/zz/ORPHAN.jpg",
                                            where.originalsFolder + "/zz/ORPHAN.jpg.partial",
                                            where.derivativesFolder + "/zz/.tolvek-1-2-3.partial"};
  for (const auto& path : orphans) ASSERT_TRUE(testing::writeFileBytes(path, "left over"));
  const std::string outside = home.folder("media") + "/kept.png";
  ASSERT_EQ(::symlink(outside.c_str(), (where.originalsFolder + "/zz/link.png").c_str()), 0);

  ASSERT_FALSE(importPng(home, "next.png").empty());
  for (const auto& path : orphans) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_FALSE(fs::is_symlink(where.originalsFolder + "/zz/link.png"));
  EXPECT_TRUE(fs::exists(outside)) << "a link is removed, never what it names";
  for (const auto& path : named) EXPECT_TRUE(fs::exists(path)) << path;
}

}  // namespace
}  // namespace tolvek
