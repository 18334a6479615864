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

TEST(LibraryUpkeep, AVersionTwoCatalogIsReadThenMigratedInPlace) {
  if (!testing::haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to read the catalog's version";
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  home.import(home.picture("a.png", "png"));
  ASSERT_FALSE(HasFailure()) << "the library could not be made";
  const std::string catalog = home.location().catalogPath;
  // The same catalog as the previous version wrote it: no sizes, no hashes.
  {
    auto older = testing::CatalogFixture::open(catalog);
    ASSERT_TRUE(older) << older.message();
    ASSERT_TRUE(older->downgradeToVersion2().ok());
  }

  auto reader = CatalogReader::open(home.location());
  ASSERT_TRUE(reader->isOpen()) << "the helper reads version 2";
  AssetQuery everything;
  std::int64_t handle = 0;
  reader->forEachAsset(everything, [&](const Asset& asset) {
    handle = asset.handle;
    return true;
  });
  const auto old = reader->storedAsset(handle);
  ASSERT_TRUE(old);
  EXPECT_FALSE(old->original.path.empty());
  EXPECT_FALSE(old->original.size);
  EXPECT_EQ(old->original.sha256, "");
  reader.reset();

  // Any write of the tool migrates it, filling in what it can read.
  const auto r = home.runTool({"album", "create", "Later"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(testing::sqliteQuery(catalog, "PRAGMA user_version;"),
            std::optional<std::vector<std::string>>({std::to_string(kCatalogSchemaVersion)}));
  const auto migrated = CatalogReader::open(home.location())->storedAsset(handle);
  ASSERT_TRUE(migrated);
  const auto digest = digestOfFile(migrated->original.path);
  ASSERT_TRUE(digest.ok());
  EXPECT_EQ(migrated->original.size, std::optional<std::uint64_t>(digest->size));
  EXPECT_EQ(migrated->original.sha256, digest->sha256);
  ASSERT_FALSE(migrated->derivatives.empty());
  for (const auto& d : migrated->derivatives) EXPECT_EQ(d.bytes, std::optional<std::uint64_t>(fs::file_size(d.path)));
}

TEST(LibraryUpkeep, ImportClearsWhatKilledImportsLeft) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string outside = home.picture("kept.png", "png");
  home.import(outside);
  ASSERT_FALSE(HasFailure()) << "the library could not be made";
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
  ASSERT_EQ(::symlink(outside.c_str(), (where.originalsFolder + "/zz/link.png").c_str()), 0);

  home.import(home.picture("next.png", "png"));
  ASSERT_FALSE(HasFailure()) << "the second import failed";
  for (const auto& path : orphans) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_FALSE(fs::is_symlink(where.originalsFolder + "/zz/link.png"));
  EXPECT_TRUE(fs::exists(outside)) << "a link is removed, never what it names";
  for (const auto& path : named) EXPECT_TRUE(fs::exists(path)) << path;
}

}  // namespace
}  // namespace tolvek
