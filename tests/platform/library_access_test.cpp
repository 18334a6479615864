// The recorded answer decides what the library shows: everything (3), only
// the chosen assets and no collections (4), nothing otherwise. A damaged
// store counts as a refusal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "platform/access_store.h"
#include "platform/catalog_writer.h"
#include "platform/linux_photo_library.h"
#include "platform/posix/posix_file.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

class LibraryAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    auto& writer = *opened;
    album = *writer->createAlbum(std::string("Album"));
    for (int i = 0; i < 4; ++i) {
      NewAsset asset;
      asset.mediaType = i == 3 ? MediaType::video : MediaType::image;
      asset.creationDate = 1000 * (i + 1);
      asset.originalPath = "originals/" + std::to_string(i);
      ids.push_back("asset-" + std::to_string(i));
      ASSERT_TRUE(writer->addAsset(ids.back(), asset, *writer->albumRow(album)));
    }
  }
  std::unique_ptr<LinuxPhotoLibrary> library() {
    return std::make_unique<LinuxPhotoLibrary>(home.location(), kHelperBundleIdentifier, "usage");
  }
  void record(std::optional<AccessAnswer> answer) {
    ASSERT_TRUE(store.write(kHelperBundleIdentifier, answer).ok());
  }
  std::vector<std::string> newestIds(PhotoLibrary& lib) {
    FetchOptions options;
    options.newestFirst = true;
    std::vector<std::string> seen;
    lib.fetchAssets(options)->enumerateObjects(
        [&](const Asset& a, std::size_t, bool&) { seen.push_back(a.localIdentifier); });
    return seen;
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  AccessStore store{home.location().accessStorePath};
  std::string album;
  std::vector<std::string> ids;
};

TEST_F(LibraryAccess, StatusFollowsTheStore) {
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::notDetermined);
  for (AuthorizationStatus s : {AuthorizationStatus::restricted, AuthorizationStatus::denied,
                                AuthorizationStatus::authorized, AuthorizationStatus::limited}) {
    record(AccessAnswer{s, {}});
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), s);
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::addOnly), s);
  }
  record(std::nullopt);
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::notDetermined);
}

TEST_F(LibraryAccess, OtherApplicationsAnswersAreKeptApart) {
  ASSERT_TRUE(store.write("org.example.other", AccessAnswer{AuthorizationStatus::authorized, {}}).ok());
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::notDetermined);
  record(AccessAnswer{AuthorizationStatus::denied, {}});
  EXPECT_EQ(store.read("org.example.other").status, AuthorizationStatus::authorized);
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::denied);
}

TEST_F(LibraryAccess, DamagedStoreReadsAsDeniedUntilReset) {
  const std::string path = home.location().accessStorePath;
  const std::vector<std::string> garbage = {
      std::string("\x00\x01\x02garbage", 10), "[app.tolvek.photos-helper\nstatus=3\n",
      "[app.tolvek.photos-helper]\nstatus=yes\n", "[app.tolvek.photos-helper]\nstatus=7\n",
      "[app.tolvek.photos-helper]\nother=3\n"};
  for (const std::string& bytes : garbage) {
    testing::writeFileBytes(path, bytes);
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::denied) << bytes;
    EXPECT_TRUE(newestIds(*library()).empty());
  }
  // Unreadable (a folder in its place) is denied as well.
  std::filesystem::remove(path);
  std::filesystem::create_directories(path);
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::denied);
  std::filesystem::remove(path);
  testing::writeFileBytes(path, "garbage\xff");
  record(std::nullopt);  // reset replaces the garbage
  EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), AuthorizationStatus::notDetermined);
}

// The store is read only as a regular file of at most 64 KiB: anything else
// in its place reads as denied at once instead of blocking or filling memory.
TEST_F(LibraryAccess, AStoreThatIsNotASmallRegularFileReadsAsDenied) {
  const std::string path = home.location().accessStorePath;
  const std::string fifo = home.root() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string granted = "[app.tolvek.photos-helper]\nstatus=3\n";
  const std::string padding = "#" + std::string(1000, 'x') + "\n";
  std::string nearlyFull = granted, tooLarge = granted;
  while (nearlyFull.size() + padding.size() <= 64 * 1024) nearlyFull += padding;
  while (tooLarge.size() <= 64 * 1024) tooLarge += padding;
  const struct {
    const char* what;
    std::function<void()> make;
    AuthorizationStatus status;
  } cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, AuthorizationStatus::denied},
      {"a link to a FIFO", [&] { std::filesystem::create_symlink(fifo, path); }, AuthorizationStatus::denied},
      {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", path); }, AuthorizationStatus::denied},
      {"a folder", [&] { std::filesystem::create_directories(path); }, AuthorizationStatus::denied},
      {"larger than 64 KiB", [&] { testing::writeFileBytes(path, tooLarge); }, AuthorizationStatus::denied},
      {"just under 64 KiB", [&] { testing::writeFileBytes(path, nearlyFull); }, AuthorizationStatus::authorized},
      {"a link to nothing", [&] { std::filesystem::create_symlink(home.root() + "/none", path); },
       AuthorizationStatus::notDetermined},
      {"missing", [] {}, AuthorizationStatus::notDetermined},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(path);
    c.make();
    EXPECT_EQ(store.read(kHelperBundleIdentifier).status, c.status) << c.what;
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), c.status) << c.what;
  }
  // A write replaces whatever was in the way with a real store.
  std::filesystem::remove_all(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  record(AccessAnswer{AuthorizationStatus::authorized, {}});
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, AuthorizationStatus::authorized);
}

// Another process holding the store's lock makes a write fail after a
// bounded wait instead of blocking the run; the store is left as it was.
TEST_F(LibraryAccess, AWriteGivesUpWhileTheLockIsHeld) {
  record(AccessAnswer{AuthorizationStatus::denied, {}});
  {
    auto held = FileLock::acquire(home.location().accessStorePath + ".lock", std::chrono::milliseconds(0));
    ASSERT_TRUE(held.ok()) << held.message();
    const Status written = store.write(kHelperBundleIdentifier, AccessAnswer{AuthorizationStatus::authorized, {}});
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.message().find(kLockBusy), std::string::npos) << written.message();
    EXPECT_EQ(store.read(kHelperBundleIdentifier).status, AuthorizationStatus::denied);
  }
  record(AccessAnswer{AuthorizationStatus::authorized, {}});
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, AuthorizationStatus::authorized);
}

TEST_F(LibraryAccess, WithoutAccessNothingIsVisible) {
  for (std::optional<AccessAnswer> answer :
       {std::optional<AccessAnswer>(), std::optional<AccessAnswer>(AccessAnswer{AuthorizationStatus::denied, {}}),
        std::optional<AccessAnswer>(AccessAnswer{AuthorizationStatus::restricted, {}})}) {
    record(answer);
    auto lib = library();
    EXPECT_TRUE(newestIds(*lib).empty());
    EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), 0u);
    EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
  }
  record(AccessAnswer{AuthorizationStatus::authorized, {}});
  EXPECT_EQ(newestIds(*library()).size(), 4u);
  EXPECT_EQ(library()->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 1u);
}

TEST_F(LibraryAccess, LimitedAccessShowsOnlyTheChosenAssetsAndNoCollections) {
  record(AccessAnswer{AuthorizationStatus::authorized, {}});
  const AssetCollection albumValue =
      *library()->fetchAssetCollectionsWithLocalIdentifiers({album})->firstObject();

  record(AccessAnswer{AuthorizationStatus::limited, {ids[1], ids[3], "asset-that-is-gone"}});
  auto lib = library();
  EXPECT_EQ(newestIds(*lib), (std::vector<std::string>{ids[3], ids[1]}));
  FetchOptions limited;
  limited.newestFirst = true;
  limited.fetchLimit = 1;
  limited.mediaTypes = {MediaType::image};
  EXPECT_EQ(lib->fetchAssets(limited)->firstObject()->localIdentifier, ids[1]);
  EXPECT_EQ(lib->fetchAssets(limited)->count(), 1u);
  EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), 2u);
  EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers({ids[0]})->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollectionsWithLocalIdentifiers({album})->count(), 0u);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(albumValue, FetchOptions{})->count(), 0u);

  record(AccessAnswer{AuthorizationStatus::limited, {}});
  EXPECT_TRUE(newestIds(*library()).empty());
}

TEST_F(LibraryAccess, BundleIdentifiersAStoreCannotHoldAreRefused) {
  for (const std::string bad : {"", "a]b", "[x", "tab\there", "\xff"}) {
    EXPECT_FALSE(store.write(bad, AccessAnswer{AuthorizationStatus::authorized, {}}).ok()) << bad;
    EXPECT_EQ(store.read(bad).status, AuthorizationStatus::denied) << bad;
  }
  EXPECT_EQ(store.read(kHelperBundleIdentifier).status, AuthorizationStatus::notDetermined);
}

TEST_F(LibraryAccess, ChosenIdentifiersSurviveTheStore) {
  const std::vector<std::string> odd = {"a;b", "back\\slash", "spaces and = signs", "\xF0\x9F\x93\xB7"};
  record(AccessAnswer{AuthorizationStatus::limited, odd});
  EXPECT_EQ(store.read(kHelperBundleIdentifier).chosenAssets, odd);
}

}  // namespace
}  // namespace tolvek
