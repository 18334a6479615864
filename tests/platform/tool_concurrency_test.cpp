// Imports and syncs that are killed or read from while they run: a killed
// run leaves a catalog that opens and holds every asset it reported; helpers
// reading during a long run all get consistent answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "platform/access_store.h"
#include "platform/catalog_identifiers.h"
#include "platform/catalog_writer.h"
#include "platform/linux_photo_library.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::ScratchLibrary;

// `count` small PNGs under `folder`, each its own content (bytes after the
// end of the PNG differ), with distinct dates.
void makePictures(const std::string& folder, int count) {
  const std::string first = folder + "/p0000.png";
  ASSERT_TRUE(testing::writePicture(first, "png", {.width = 16, .height = 16}));
  const auto bytes = testing::readFileBytes(first);
  ASSERT_TRUE(bytes);
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/p%04d.png", i);
    if (i > 0) {
      ASSERT_TRUE(testing::writeFileBytes(folder + name, *bytes + name));
    }
    std::filesystem::last_write_time(folder + name, std::filesystem::file_time_type::clock::now() -
                                                        std::chrono::hours(i));
  }
}

void grant(const ScratchLibrary& home) {
  ASSERT_TRUE(AccessStore(home.location().accessStorePath)
                   .write(kHelperBundleIdentifier, AccessAnswer{AuthorizationStatus::authorized, {}}).ok());
}

TEST(ToolConcurrency, KilledImportKeepsEveryReportedAsset) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = home.folder("pictures");
  makePictures(pictures, 3000);
  // Killed with SIGKILL long before 3000 files are done.
  const auto r = home.runTool({"import", pictures}, 2500ms);
  ASSERT_TRUE(r.timedOut) << "the import finished before it could be killed";
  const auto reported = testing::importedLines(r.out);
  ASSERT_FALSE(reported.empty()) << "nothing imported within the time: " << r.err;

  grant(home);
  {
    auto lib = std::make_unique<LinuxPhotoLibrary>(home.location(), kHelperBundleIdentifier, "usage");
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

TEST(ToolConcurrency, KilledSyncKeepsEveryReportedChangeAndTheNextOneFinishes) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = home.folder("pictures");
  makePictures(pictures, 3000);
  const auto killed = home.runTool({"add", pictures}, 2500ms);
  ASSERT_TRUE(killed.timedOut) << "the sync finished before it could be killed";
  const auto reported = testing::syncLines(killed.out);
  ASSERT_FALSE(reported.empty()) << "nothing committed within the time: " << killed.err;
  grant(home);
  std::vector<std::string> ids;
  for (const auto& line : reported) ids.push_back(line.identifier);
  EXPECT_EQ(LinuxPhotoLibrary(home.location(), kHelperBundleIdentifier, "usage")
                .fetchAssetsWithLocalIdentifiers(ids)->count(),
            reported.size());

  const auto finished = home.runTool({"sync"}, std::chrono::seconds(600));
  ASSERT_EQ(finished.exitStatus, 0) << finished.err;
  std::set<std::string> paths;
  for (const auto& lines : {reported, testing::syncLines(finished.out)}) {
    for (const auto& line : lines) EXPECT_TRUE(paths.insert(line.path).second) << "reported twice: " << line.path;
  }
  EXPECT_EQ(LinuxPhotoLibrary(home.location(), kHelperBundleIdentifier, "usage").fetchAssets(FetchOptions{})->count(),
            3000u)
      << "one asset per file, none twice";
}

// A long import into an album, and a long first sync of a folder (whose
// album appears with its first batch).
struct LongRun {
  const char* name;
  bool sync;
  int files;
};

class EightReaders : public ::testing::TestWithParam<LongRun> {};

TEST_P(EightReaders, DuringALongRunAllSucceed) {
  const LongRun run = GetParam();
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = home.folder("pictures");
  makePictures(pictures, run.files);
  grant(home);
  std::string albumId;
  std::vector<std::string> command{"add", pictures};
  if (run.sync) {
    albumId = folderCollectionIdentifier(std::filesystem::canonical(pictures).string(), "");
  } else {
    const auto album = home.runTool({"album", "create", "Everything"});
    ASSERT_EQ(album.exitStatus, 0);
    albumId = album.out.substr(0, album.out.find('\n'));
    command = {"import", "--album", albumId, pictures};
  }

  std::atomic<bool> importing{true};
  testing::ProcessResult imported;
  std::thread importer([&] {
    imported = home.runTool(command, std::chrono::seconds(600));
    importing = false;
  });

  std::atomic<int> reads{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      std::size_t last = 0;
      while (importing) {
        LinuxPhotoLibrary lib(home.location(), kHelperBundleIdentifier, "usage");
        FetchOptions newest;
        newest.newestFirst = true;
        newest.mediaTypes = {MediaType::image, MediaType::video};
        auto all = lib.fetchAssets(newest);
        const std::size_t count = all->count();
        std::size_t seen = 0;
        std::optional<std::int64_t> previous;
        bool ordered = true;
        all->enumerateObjects([&](const Asset& a, std::size_t, bool&) {
          ++seen;
          if (previous && a.creationDate && *a.creationDate > *previous) ordered = false;
          previous = a.creationDate;
        });
        auto albums = lib.fetchAssetCollectionsWithLocalIdentifiers({albumId});
        const std::size_t inAlbum =
            albums->count() == 1 ? lib.fetchAssetsInAssetCollection(*albums->firstObject(), newest)->count() : 0;
        // One snapshot per run: the count, the rows and the album agree, and
        // nothing ever disappears.
        const bool albumAgrees = albums->count() == 1 ? inAlbum == count : run.sync && count == 0;
        if (seen != count || !ordered || !albumAgrees || count < last) {
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
  EXPECT_EQ(std::count(imported.out.begin(), imported.out.end(), '\n'), run.files) << "one line per file";
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 8);
  LinuxPhotoLibrary after(home.location(), kHelperBundleIdentifier, "usage");
  EXPECT_EQ(after.fetchAssets(FetchOptions{})->count(), static_cast<std::size_t>(run.files));
}

INSTANTIATE_TEST_SUITE_P(ImportAndSync, EightReaders,
                         ::testing::Values(LongRun{"Import", false, 500}, LongRun{"Sync", true, 2000}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvek
