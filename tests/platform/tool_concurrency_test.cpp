// Imports that are killed or read from while they run: a killed import
// leaves a catalog that opens and holds every asset it reported; helpers
// reading during a long import all get consistent answers.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "platform/catalog_reader.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::ScratchLibrary;

// `count` copies of one small PNG in the folder "pictures", an hour apart.
std::string makePictures(const ScratchLibrary& home, int count) {
  home.pictureCopies("pictures", count, std::time(nullptr), -3600);
  return home.work("pictures");
}

TEST(ToolConcurrency, KilledImportKeepsEveryReportedAsset) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = makePictures(home, 3000);
  // Killed with SIGKILL long before 3000 files are done.
  const auto r = home.runTool({"import", pictures}, 2500ms);
  ASSERT_TRUE(r.timedOut) << "the import finished before it could be killed";
  const auto reported = testing::importedLines(r.out);
  ASSERT_FALSE(reported.empty()) << "nothing imported within the time: " << r.err;

  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  {
    auto lib = home.library();
    std::vector<std::string> ids;
    for (const auto& line : reported) ids.push_back(line.first);
    EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), reported.size());
    // At most the one asset that was committed but not yet printed more.
    const std::size_t all = lib->fetchAssets(FetchOptions{})->count();
    EXPECT_GE(all, reported.size());
    EXPECT_LE(all, reported.size() + 1);
    auto reader = CatalogReader::open(home.location());
    lib->fetchAssetsWithLocalIdentifiers(ids)->enumerateObjects([&](const Asset& a, std::size_t, bool&) {
      const auto stored = reader->storedAsset(a.handle);
      ASSERT_TRUE(stored);
      EXPECT_TRUE(std::filesystem::exists(stored->original.path)) << a.localIdentifier;
      EXPECT_EQ(lib->assetResources(a).size(), 1u);
    });
  }
  // The library takes further imports.
  ASSERT_TRUE(testing::writePicture(home.folder("more") + "/x.png", "png"));
  const auto again = home.runTool({"import", home.folder("more")});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

TEST(ToolConcurrency, EightReadersDuringALongImportAllSucceed) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = makePictures(home, 500);
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  const std::string albumId = home.createAlbum("Everything");

  std::atomic<bool> importing{true};
  testing::ProcessResult imported;
  std::thread importer([&] {
    imported = home.runTool({"import", "--album", albumId, pictures}, std::chrono::seconds(600));
    importing = false;
  });

  std::atomic<int> reads{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      std::size_t last = 0;
      while (importing) {
        const auto lib = home.library();
        FetchOptions newest;
        newest.newestFirst = true;
        newest.mediaTypes = {MediaType::image, MediaType::video};
        auto all = lib->fetchAssets(newest);
        const std::size_t count = all->count();
        std::size_t seen = 0;
        std::optional<std::int64_t> previous;
        bool ordered = true;
        all->enumerateObjects([&](const Asset& a, std::size_t, bool&) {
          ++seen;
          if (previous && a.creationDate && *a.creationDate > *previous) ordered = false;
          previous = a.creationDate;
        });
        auto albums = lib->fetchAssetCollectionsWithLocalIdentifiers({albumId});
        const std::size_t inAlbum =
            albums->count() == 1 ? lib->fetchAssetsInAssetCollection(*albums->firstObject(), newest)->count() : 0;
        // One snapshot per run: the count, the rows and the album agree, and
        // nothing ever disappears.
        if (seen != count || !ordered || inAlbum != count || count < last || albums->count() != 1) {
          ++failures;
          ADD_FAILURE() << "seen " << seen << " count " << count << " ordered " << ordered << " in album "
                        << inAlbum << " last " << last << " albums " << albums->count();
        }
        last = count;
        ++reads;
      }
    });
  }
  importer.join();
  for (auto& r : readers) r.join();
  EXPECT_EQ(imported.exitStatus, 0) << imported.err;
  EXPECT_EQ(testing::importedLines(imported.out).size(), 500u);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 8);
  EXPECT_EQ(home.library()->fetchAssets(FetchOptions{})->count(), 500u);
}

}  // namespace
}  // namespace tolvek
