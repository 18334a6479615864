// The writer's one transaction type, and the one reading of an asset's
// copies in sources (whose first copy names the folder a removal points to).
#include <gtest/gtest.h>

#include "platform/catalog/catalog_transaction.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/posix/posix_file.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

std::int64_t rowsIn(sqlite3* db) {
  SqliteStatement count(db, "SELECT COUNT(*) FROM t");
  return count.step() ? count.integer(0) : -1;
}

TEST(CatalogTransaction, KeepsItsChangesOnlyWhenCommitted) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  SqliteConnection db(raw);
  guardConnection(db.get(), "memory");
  ASSERT_TRUE(executeSql(db.get(), "CREATE TABLE t (x)"));
  {
    auto dropped = CatalogTransaction::begin(db.get(), "test");
    ASSERT_TRUE(dropped) << dropped.message();
    ASSERT_TRUE(executeSql(db.get(), "INSERT INTO t VALUES (1)"));
    // Moved: only the new owner rolls back, once.
    CatalogTransaction owner = std::move(dropped).value();
    EXPECT_TRUE(owner.open());
  }
  EXPECT_EQ(rowsIn(db.get()), 0);
  EXPECT_NE(sqlite3_get_autocommit(db.get()), 0);
  {
    auto kept = CatalogTransaction::begin(db.get(), "test");
    ASSERT_TRUE(kept);
    ASSERT_TRUE(executeSql(db.get(), "INSERT INTO t VALUES (2)"));
    ASSERT_TRUE(kept->commit());
    EXPECT_FALSE(kept->open());
  }
  EXPECT_EQ(rowsIn(db.get()), 1);
  // A second transaction cannot begin inside the first.
  auto first = CatalogTransaction::begin(db.get(), "test");
  ASSERT_TRUE(first);
  const auto nested = CatalogTransaction::begin(db.get(), "nest");
  EXPECT_FALSE(nested);
  EXPECT_EQ(nested.message().rfind("cannot nest in the catalog: ", 0), 0u) << nested.message();
  first->rollBack();
  // Once the connection is known damaged, nothing begins.
  markDamaged(db.get(), "test damage");
  const auto refused = CatalogTransaction::begin(db.get(), "test");
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.code(), ErrorCode::damaged);
}

// A sync's batch: the writer lock is held while it is open only, and an
// early return (the batch destroyed uncommitted) keeps nothing of it.
TEST(CatalogTransaction, AWritersBatchHoldsTheLockAndKeepsOnlyWhatItCommitted) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  auto writer = CatalogWriter::open(home.location());
  ASSERT_TRUE(writer) << writer.message();
  CatalogWriter& catalog = **writer;
  catalog.holdLockOnlyInBatches();
  const auto lockIsFree = [&] {
    return FileLock::acquire(home.location().writerLockPath, std::chrono::milliseconds(0)).ok();
  };
  const NewAsset asset{MediaType::image, std::nullopt, "a.jpg", "", "", {}, {}};
  std::int64_t dropped = 0;
  {
    auto batch = catalog.beginBatch();
    ASSERT_TRUE(batch) << batch.message();
    EXPECT_FALSE(lockIsFree());
    const auto row = catalog.insertAsset("dropped", asset);
    ASSERT_TRUE(row) << row.message();
    dropped = *row;
  }
  EXPECT_TRUE(lockIsFree());
  auto batch = catalog.beginBatch();
  ASSERT_TRUE(batch) << batch.message();
  const auto kept = catalog.insertAsset("kept", asset);
  ASSERT_TRUE(kept) << kept.message();
  ASSERT_TRUE(batch->commit());
  EXPECT_TRUE(lockIsFree());
  EXPECT_FALSE(catalog.assetRow("dropped"));
  const auto found = catalog.assetRow("kept");
  ASSERT_TRUE(found) << found.message();
  EXPECT_EQ(*found, *kept);
  EXPECT_NE(dropped, 0);
}

// A command that reads at length first: the lock is free while it reads
// (a change then is refused), and held again to the end for its change.
TEST(CatalogTransaction, AWriterTakesTheLockAgainForGoodAfterReadingWithoutIt) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  auto writer = CatalogWriter::open(home.location());
  ASSERT_TRUE(writer) << writer.message();
  CatalogWriter& catalog = **writer;
  const auto lockIsFree = [&] {
    return FileLock::acquire(home.location().writerLockPath, std::chrono::milliseconds(0)).ok();
  };
  EXPECT_FALSE(lockIsFree());
  catalog.holdLockOnlyInBatches();
  EXPECT_TRUE(lockIsFree());
  EXPECT_FALSE(catalog.createAlbum(std::string("Meanwhile"))) << "no change without the lock";
  ASSERT_TRUE(catalog.holdLockThroughout());
  EXPECT_FALSE(lockIsFree());
  ASSERT_TRUE(catalog.createAlbum(std::string("After")));
  EXPECT_FALSE(lockIsFree()) << "held after the change too";
}

TEST(RecordedCopies, ACopyWhosePathClimbsOutIsNoCopy) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  auto writer = CatalogWriter::open(home.location());
  ASSERT_TRUE(writer) << writer.message();
  CatalogWriter& catalog = **writer;
  const auto source = catalog.addSource("/photos/digikam4.db", 1, SourceKind::digikam);
  ASSERT_TRUE(source);
  const auto folder = catalog.folderRow(*source, "", 1);
  ASSERT_TRUE(folder);
  const auto asset = catalog.insertAsset("climbing", NewAsset{MediaType::image, std::nullopt, "a.jpg", "", "", {}, {}});
  ASSERT_TRUE(asset) << asset.message();
  // Walk order puts the climbing copy first.
  ASSERT_TRUE(catalog.recordFile(*source, *folder, SourceFile{0, "a/../etc/a.jpg", *asset, 1, 1, 1}));
  auto where = catalog.referencingFolder(*asset);
  ASSERT_TRUE(where) << where.message();
  EXPECT_FALSE(*where) << **where;
  ASSERT_TRUE(catalog.recordFile(*source, *folder, SourceFile{0, "b/pictures/a.jpg", *asset, 1, 1, 2}));
  where = catalog.referencingFolder(*asset);
  ASSERT_TRUE(where && *where);
  EXPECT_EQ(**where, "/b/pictures");
}

}  // namespace
}  // namespace tolvek
