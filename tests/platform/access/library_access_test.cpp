// The recorded answer decides what the library shows: everything (3), only
// the chosen assets and no collections (4), nothing otherwise. A damaged
// store counts as a refusal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "platform/catalog/catalog_writer.h"
#include "platform/posix/posix_file.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;
using enum AuthorizationStatus;

class LibraryAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    auto& writer = *opened;
    album = *writer->createAlbum(std::string("Album"));
    for (int i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i);
      ids.push_back("asset-" + n);
      const MediaType type = i == 3 ? MediaType::video : MediaType::image;
      const NewAsset asset{type, 1000 * (i + 1), "", "", "originals/" + n, {}, {}};
      ASSERT_TRUE(writer->addAsset(ids.back(), asset, *writer->albumRow(album)));
    }
  }
  std::unique_ptr<PhotoLibrary> library() { return home.library(); }
  static std::vector<std::string> newestIds(PhotoLibrary& lib) {
    return identifiersOf(lib.fetchAssets(FetchOptions{{}, true}));
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  AccessStore store{home.location().accessStorePath};
  std::string album;
  std::vector<std::string> ids;
};

TEST_F(LibraryAccess, StatusFollowsTheStore) {
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), notDetermined);
  for (AuthorizationStatus s : {restricted, denied, authorized, limited}) {
    ASSERT_TRUE(home.recordAnswer(s));
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), s);
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::addOnly), s);
  }
  ASSERT_TRUE(home.recordAnswer(std::nullopt));
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), notDetermined);
}

TEST_F(LibraryAccess, OtherApplicationsAnswersAreKeptApart) {
  ASSERT_TRUE(store.write("org.example.other", AccessAnswer{authorized, {}}).ok());
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), notDetermined);
  ASSERT_TRUE(home.recordAnswer(denied));
  EXPECT_EQ(store.read("org.example.other").status, authorized);
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), denied);
}

// The store is read only as a regular file of at most 64 KiB that holds
// answers: anything else in its place reads as denied at once (instead of
// blocking or filling memory) and shows nothing, until a write replaces it.
TEST_F(LibraryAccess, AStoreThatIsNotAnIntactSmallFileReadsAsDenied) {
  const std::string path = home.location().accessStorePath;
  const std::string fifo = home.root() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string granted = "[app.tolvek.photos-helper]\nstatus=3\n";
  const std::string padding = "#" + std::string(1000, 'x') + "\n";
  std::string nearlyFull = granted, tooLarge = granted;
  while (nearlyFull.size() + padding.size() <= 64 * 1024) nearlyFull += padding;
  while (tooLarge.size() <= 64 * 1024) tooLarge += padding;
  struct Case {
    std::string what;
    std::function<void()> make;
    AuthorizationStatus status;
  };
  std::vector<Case> cases = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, denied},
      {"a link to a FIFO", [&] { std::filesystem::create_symlink(fifo, path); }, denied},
      {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", path); }, denied},
      {"a folder", [&] { std::filesystem::create_directories(path); }, denied},
      {"larger than 64 KiB", [&] { testing::writeFileBytes(path, tooLarge); }, denied},
      {"just under 64 KiB", [&] { testing::writeFileBytes(path, nearlyFull); }, authorized},
      {"a link to nothing", [&] { std::filesystem::create_symlink(home.root() + "/none", path); }, notDetermined},
      {"missing", [] {}, notDetermined},
  };
  for (const std::string& garbage :
       {std::string("\x00\x01\x02garbage", 10), std::string("[app.tolvek.photos-helper\nstatus=3\n"),
        std::string("[app.tolvek.photos-helper]\nstatus=yes\n"), std::string("[app.tolvek.photos-helper]\nstatus=7\n"),
        std::string("[app.tolvek.photos-helper]\nother=3\n")}) {
    cases.push_back({garbage, [&path, garbage] { testing::writeFileBytes(path, garbage); }, denied});
  }
  for (const auto& c : cases) {
    std::filesystem::remove_all(path);
    c.make();
    EXPECT_EQ(store.read(kHelperBundleIdentifier).status, c.status) << c.what;
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), c.status) << c.what;
    if (c.status != authorized) {
      EXPECT_TRUE(newestIds(*library()).empty()) << c.what;
    }
  }
  // A write replaces whatever was in the way with a real store; clearing the
  // answer replaces garbage too.
  std::filesystem::remove_all(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  ASSERT_TRUE(home.recordAnswer(authorized));
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, authorized);
  testing::writeFileBytes(path, "garbage\xff");
  ASSERT_TRUE(home.recordAnswer(std::nullopt));
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), notDetermined);
}

// Another process holding the store's lock makes a write fail after a
// bounded wait instead of blocking the run; the store is left as it was.
TEST_F(LibraryAccess, AWriteGivesUpWhileTheLockIsHeld) {
  ASSERT_TRUE(home.recordAnswer(denied));
  {
    auto held = FileLock::acquire(home.location().accessStorePath + ".lock", std::chrono::milliseconds(0));
    ASSERT_TRUE(held.ok()) << held.message();
    const Status written = store.write(kHelperBundleIdentifier, AccessAnswer{authorized, {}});
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.message().find(kLockBusy), std::string::npos) << written.message();
    EXPECT_EQ(store.read(kHelperBundleIdentifier).status, denied);
  }
  ASSERT_TRUE(home.recordAnswer(authorized));
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, authorized);
}

TEST_F(LibraryAccess, WithoutAccessNothingIsVisible) {
  for (const auto& answer :
       std::vector<std::optional<AccessAnswer>>{std::nullopt, AccessAnswer{denied, {}}, AccessAnswer{restricted, {}}}) {
    ASSERT_TRUE(home.recordAnswer(answer));
    auto lib = library();
    EXPECT_TRUE(newestIds(*lib).empty());
    EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), 0u);
    EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
  }
  ASSERT_TRUE(home.recordAnswer(authorized));
  EXPECT_EQ(newestIds(*library()).size(), 4u);
  EXPECT_EQ(library()->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 1u);
}

TEST_F(LibraryAccess, LimitedAccessShowsOnlyTheChosenAssetsAndNoCollections) {
  ASSERT_TRUE(home.recordAnswer(authorized));
  const AssetCollection albumValue =
      *library()->fetchAssetCollectionsWithLocalIdentifiers({album})->firstObject();

  ASSERT_TRUE(home.recordAnswer(AccessAnswer{limited, {ids[1], ids[3], "asset-that-is-gone"}}));
  auto lib = library();
  EXPECT_EQ(newestIds(*lib), (std::vector<std::string>{ids[3], ids[1]}));
  const FetchOptions newestImage{{MediaType::image}, true, 1};
  EXPECT_EQ(lib->fetchAssets(newestImage)->firstObject()->localIdentifier, ids[1]);
  EXPECT_EQ(lib->fetchAssets(newestImage)->count(), 1u);
  EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), 2u);
  EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers({ids[0]})->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollectionsWithLocalIdentifiers({album})->count(), 0u);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(albumValue, FetchOptions{})->count(), 0u);

  ASSERT_TRUE(home.recordAnswer(limited));
  EXPECT_TRUE(newestIds(*library()).empty());
}

TEST_F(LibraryAccess, BundleIdentifiersAStoreCannotHoldAreRefused) {
  for (const std::string bad : {"", "a]b", "[x", "tab\there", "\xff"}) {
    EXPECT_FALSE(store.write(bad, AccessAnswer{authorized, {}}).ok()) << bad;
    EXPECT_EQ(store.read(bad).status, denied) << bad;
  }
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, notDetermined);
}

TEST_F(LibraryAccess, ChosenIdentifiersSurviveTheStore) {
  const std::vector<std::string> odd = {"a;b", "back\\slash", "spaces and = signs", "\xF0\x9F\x93\xB7"};
  ASSERT_TRUE(home.recordAnswer(AccessAnswer{limited, odd}));
  EXPECT_EQ(store.read(kHelperBundleIdentifier).chosenAssets, odd);
}

}  // namespace
}  // namespace tolvek
