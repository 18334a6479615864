// The catalog as the helper reads it: orders, limits, filters, collections of
// every type, resources and the locations behind them.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/catalog/content_hash.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kBase = 1600000000 - 1600000000 % kDay;  // a midnight, UTC

using V = std::vector<std::string>;

// A library of six assets written straight into a catalog:
//   A picture  day 0      B picture day 1, 02:00   C picture, same date as B
//   D picture  no date    E audio   day 3          F video   day 2
// and two albums: "Trip" = A, D, C, F, E (in that order), "" = B.
class CatalogContent : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    writer = std::move(opened).value();
    trip = *writer->createAlbum(std::string("Trip"));
    emptyTitled = *writer->createAlbum(std::string());
    add("A", MediaType::image, kBase + 3600);
    add("B", MediaType::image, kBase + kDay + 7200);
    add("C", MediaType::image, kBase + kDay + 7200);
    add("D", MediaType::image, std::nullopt);
    add("E", MediaType::audio, kBase + 3 * kDay);
    add("F", MediaType::video, kBase + 2 * kDay);
    for (const char* name : {"A", "D", "C", "F", "E"}) addTo(trip, name);
    addTo(emptyTitled, "B");
    ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
    lib = library();
  }

  void add(const std::string& name, MediaType type, std::optional<std::int64_t> date) {
    ids[name] = "ID-" + name + "/L0/001";
    const std::vector<StoredDerivative> derivatives = {{"derivatives/" + name + "-256.jpg", 256, 192, 1000},
                                                       {"derivatives/" + name + "-512.jpg", 512, 384, 4000}};
    const NewAsset asset{
        type, date, name + ".orig", "public.test", "originals/" + name, {7, std::string(64, 'a')}, derivatives};
    ASSERT_TRUE(writer->addAsset(ids[name], asset, std::nullopt));
  }
  void addTo(const std::string& album, const std::string& name) {
    ASSERT_TRUE(writer->addToAlbum(*writer->albumRow(album), {*writer->assetRow(ids[name])}));
  }
  // The names of the assets a fetch gives, in its order.
  V names(const std::vector<std::string>& identifiers) {
    V result;
    for (const auto& id : identifiers) {
      for (const auto& [name, known] : ids) {
        if (known == id) result.push_back(name);
      }
    }
    return result;
  }
  V names(const std::unique_ptr<FetchResult<Asset>>& result) { return names(identifiersOf(result)); }
  std::unique_ptr<PhotoLibrary> library() { return home.library("Let me see"); }
  AssetCollection collection(PhotoLibrary& in, const std::string& id) {
    auto found = in.fetchAssetCollectionsWithLocalIdentifiers({id})->firstObject();
    EXPECT_TRUE(found) << id;
    return found.value_or(AssetCollection{});
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  std::unique_ptr<CatalogWriter> writer;
  std::unique_ptr<PhotoLibrary> lib;  // a run that starts after the set-up
  std::string trip, emptyTitled;
  std::map<std::string, std::string> ids;
};

const std::vector<MediaType> kVisual = {MediaType::image, MediaType::video};

FetchOptions newest(std::vector<MediaType> types = {}, std::int64_t limit = 0) {
  return FetchOptions{std::move(types), true, limit};
}

TEST_F(CatalogContent, LibraryOrdersNewestFirstWithTiesByImportAndUndatedLast) {
  EXPECT_EQ(names(lib->fetchAssets(newest())), (V{"E", "F", "C", "B", "A", "D"}));
  EXPECT_EQ(names(lib->fetchAssets(newest(kVisual))), (V{"F", "C", "B", "A", "D"}));
  EXPECT_EQ(names(lib->fetchAssets(newest({MediaType::video}))), (V{"F"}));
  EXPECT_EQ(names(lib->fetchAssets(newest(kVisual, 2))), (V{"F", "C"}));
  EXPECT_EQ(names(lib->fetchAssets(FetchOptions{})), (V{"A", "B", "C", "D", "E", "F"}));
  // Unknown media types match nothing; a negative limit is no limit.
  EXPECT_EQ(lib->fetchAssets(newest({static_cast<MediaType>(7), static_cast<MediaType>(-1)}))->count(), 0u);
  EXPECT_EQ(lib->fetchAssets(newest(kVisual, -5))->count(), 5u);
}

TEST_F(CatalogContent, CountFirstObjectAndStopAgreeWithTheQuery) {
  auto all = lib->fetchAssets(newest(kVisual));
  EXPECT_EQ(all->count(), 5u);
  EXPECT_EQ(all->firstObject()->localIdentifier, ids["F"]);
  EXPECT_EQ(lib->fetchAssets(newest(kVisual, 3))->count(), 3u);
  EXPECT_EQ(lib->fetchAssets(newest({MediaType::audio}))->count(), 1u);
  EXPECT_FALSE(lib->fetchAssets(newest({MediaType::unknown}))->firstObject());

  std::vector<std::string> seen;
  all->enumerateObjects([&](const Asset& a, std::size_t, bool& stop) {
    seen.push_back(a.localIdentifier);
    stop = seen.size() == 2;
  });
  EXPECT_EQ(names(seen), (V{"F", "C"}));

  const Asset c = *lib->fetchAssetsWithLocalIdentifiers({ids["C"]})->firstObject();
  EXPECT_EQ(c.mediaType, MediaType::image);
  EXPECT_EQ(c.creationDate, kBase + kDay + 7200);
  auto undated = lib->fetchAssetsWithLocalIdentifiers({ids["D"]})->firstObject();
  ASSERT_TRUE(undated);
  EXPECT_FALSE(undated->creationDate);
}

TEST_F(CatalogContent, AlbumsKeepTheirOrderAndFilterLikeTheLibrary) {
  const AssetCollection album = collection(*lib, trip);
  EXPECT_EQ(album.type, CollectionType::album);
  EXPECT_EQ(album.localizedTitle, std::optional<std::string>("Trip"));
  EXPECT_EQ(names(lib->fetchAssetsInAssetCollection(album, FetchOptions{})), (V{"A", "D", "C", "F", "E"}));
  EXPECT_EQ(names(lib->fetchAssetsInAssetCollection(album, newest(kVisual))), (V{"F", "C", "A", "D"}));
  EXPECT_EQ(names(lib->fetchAssetsInAssetCollection(album, newest(kVisual, 1))), (V{"F"}));
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(album, newest(kVisual))->count(), 4u);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(album, newest())->count(), 5u);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(album, newest(kVisual, 2))->count(), 2u);

  // A collection value that names nothing in the catalog has no assets.
  AssetCollection stranger;
  stranger.localIdentifier = "nothing/L0/040";
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(stranger, newest())->count(), 0u);
  // A value carrying only the identifier is found by it.
  AssetCollection byName;
  byName.localIdentifier = trip;
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(byName, newest())->count(), 5u);
}

TEST_F(CatalogContent, SameQueryNestedInsideItsOwnEnumeration) {
  auto outer = lib->fetchAssets(newest(kVisual));
  std::vector<std::string> pairs;
  outer->enumerateObjects([&](const Asset& a, std::size_t, bool& stop) {
    lib->fetchAssets(newest(kVisual))->enumerateObjects([&](const Asset& b, std::size_t, bool& innerStop) {
      pairs.push_back(a.localIdentifier + "+" + b.localIdentifier);
      innerStop = true;
    });
    EXPECT_EQ(lib->fetchAssets(newest(kVisual))->count(), 5u);
    stop = pairs.size() == 3;
  });
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[2], ids["B"] + "+" + ids["F"]);
  // Stopped early, the same query runs again from the start.
  EXPECT_EQ(identifiersOf(*outer).size(), 5u);
}

TEST_F(CatalogContent, AlbumTitlesAbsentAndEmptyStayApart) {
  ASSERT_TRUE(writer->createAlbum(std::nullopt));
  std::vector<std::optional<std::string>> titles;
  library()->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
      ->enumerateObjects([&](const AssetCollection& c, std::size_t, bool&) { titles.push_back(c.localizedTitle); });
  EXPECT_EQ(titles, (std::vector<std::optional<std::string>>{"Trip", "", std::nullopt}));  // in creation order
}

TEST_F(CatalogContent, SmartAlbumsFollowTheAssets) {
  auto smart = lib->fetchAssetCollections(CollectionType::smartAlbum, kCollectionSubtypeAny);
  ASSERT_EQ(smart->count(), 2u);
  std::map<std::string, AssetCollection> byTitle;
  smart->enumerateObjects([&](const AssetCollection& c, std::size_t, bool&) { byTitle[*c.localizedTitle] = c; });
  ASSERT_TRUE(byTitle.count("Favorites") && byTitle.count("Videos"));
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::smartAlbum, 202)->firstObject()->localizedTitle,
            std::optional<std::string>("Videos"));

  EXPECT_EQ(names(lib->fetchAssetsInAssetCollection(byTitle["Videos"], newest())), (V{"F"}));
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(byTitle["Favorites"], newest())->count(), 0u);

  ASSERT_TRUE(writer->setFavorite({*writer->assetRow(ids["A"])}, true));
  ASSERT_TRUE(writer->setFavorite({*writer->assetRow(ids["C"])}, true));
  add("G", MediaType::video, kBase + 5 * kDay);
  auto fresh = library();  // a new run sees the changes
  EXPECT_EQ(names(fresh->fetchAssetsInAssetCollection(byTitle["Favorites"], newest())), (V{"C", "A"}));
  EXPECT_EQ(names(fresh->fetchAssetsInAssetCollection(byTitle["Videos"], newest())), (V{"G", "F"}));
  EXPECT_EQ(fresh->fetchAssetsInAssetCollection(byTitle["Videos"], newest({MediaType::image}))->count(), 0u);
}

TEST_F(CatalogContent, OneMomentPerCaptureDayInCreationOrder) {
  auto moments = lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny);
  // Days 0, 1, 3, 2 in import order; the undated asset has none.
  ASSERT_EQ(moments->count(), 4u);
  std::vector<std::vector<std::string>> members;
  moments->enumerateObjects([&](const AssetCollection& c, std::size_t, bool&) {
    EXPECT_EQ(c.type, CollectionType::moment);
    members.push_back(names(lib->fetchAssetsInAssetCollection(c, newest())));
  });
  EXPECT_EQ(members, (std::vector<V>{{"A"}, {"C", "B"}, {"E"}, {"F"}}));
  // Albums are type 1 only.
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 2u);
}

TEST_F(CatalogContent, CollectionLookupFindsEveryTypeAndNothingElse) {
  const std::string moment =
      lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->firstObject()->localIdentifier;
  const std::string videos =
      lib->fetchAssetCollections(CollectionType::smartAlbum, 202)->firstObject()->localIdentifier;
  const V got = identifiersOf(lib->fetchAssetCollectionsWithLocalIdentifiers({videos, "junk", trip, moment, ids["A"]}));
  EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()), (std::multiset<std::string>{trip, moment, videos}));
  EXPECT_EQ(lib->fetchAssetCollectionsWithLocalIdentifiers({})->count(), 0u);
}

TEST_F(CatalogContent, IdentifierLookupIsExactWhateverTheText) {
  const std::string a = ids["A"];
  std::string underscore = a;
  underscore[1] = '_';
  std::string percent = a.substr(0, 3) + "%";
  const std::vector<std::string> junk = {
      "",       "'",         "\"",          "\"]",           "' OR 1=1 --", "%",           "_",
      "*",      underscore,  percent,       "ID-*",          "\xF0\x9F\x93\xB7 photo",      "\xff\xfe\xc3",
      std::string("ID-A\0/L0/001", 12),     std::string(100 * 1024, 'x'),  "ID-a/L0/001", a + " "};
  EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(junk)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollectionsWithLocalIdentifiers(junk)->count(), 0u);

  std::vector<std::string> mixed = junk;
  mixed.push_back(ids["E"]);
  mixed.push_back(a);
  mixed.push_back(a);
  const V got = names(lib->fetchAssetsWithLocalIdentifiers(mixed));
  EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()), (std::multiset<std::string>{"A", "E"}));  // audio too
}

TEST_F(CatalogContent, ResourcesAndStoredLocations) {
  const Asset a = *lib->fetchAssetsWithLocalIdentifiers({ids["A"]})->firstObject();
  auto resources = lib->assetResources(a);
  ASSERT_EQ(resources.size(), 1u);
  EXPECT_EQ(resources[0].type, ResourceType::photo);
  EXPECT_EQ(resources[0].originalFilename, "A.orig");
  EXPECT_EQ(resources[0].uniformTypeIdentifier, "public.test");
  const Asset f = *lib->fetchAssetsWithLocalIdentifiers({ids["F"]})->firstObject();
  EXPECT_EQ(lib->assetResources(f).at(0).type, ResourceType::video);
  const Asset e = *lib->fetchAssetsWithLocalIdentifiers({ids["E"]})->firstObject();
  EXPECT_EQ(lib->assetResources(e).at(0).type, ResourceType::audio);

  auto reader = CatalogReader::open(home.location());
  const std::string folder = home.location().libraryFolder;
  auto stored = reader->storedAsset(a.handle);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->mediaType, MediaType::image);
  EXPECT_EQ(stored->original.path, folder + "/originals/A");
  EXPECT_EQ(stored->original.url, "");
  ASSERT_EQ(stored->derivatives.size(), 2u);
  EXPECT_EQ(stored->derivatives[0].width, 256);
  EXPECT_EQ(stored->derivatives[1].path, folder + "/derivatives/A-512.jpg");
  EXPECT_EQ(reader->storedResource(resources[0])->path, folder + "/originals/A");

  // A resource of another asset, or one that does not exist, is nothing.
  AssetResource wrong = resources[0];
  wrong.assetHandle = f.handle;
  EXPECT_FALSE(reader->storedResource(wrong));
  EXPECT_FALSE(reader->storedAsset(987654));

  // Size, hash and derivative sizes come back as recorded.
  const auto recorded = reader->storedAsset(a.handle);
  EXPECT_EQ(recorded->original.size, std::optional<std::uint64_t>(7));
  EXPECT_EQ(recorded->original.sha256, std::string(64, 'a'));
  ASSERT_EQ(recorded->derivatives.size(), 2u);
  EXPECT_EQ(recorded->derivatives[0].bytes, std::optional<std::uint64_t>(1000));

  // Offloaded: the URL instead of the path, with what the URL was checked to serve.
  const auto localCopy = writer->offloadOriginal(*writer->assetRow(ids["A"]), "https://example.test/a",
                                                 ContentDigest{9, std::string(64, 'b')});
  ASSERT_TRUE(localCopy) << localCopy.message();
  EXPECT_EQ(*localCopy, "originals/A");
  auto later = CatalogReader::open(home.location());
  EXPECT_EQ(later->storedAsset(a.handle)->original.path, "");
  EXPECT_EQ(later->storedResource(resources[0])->url, "https://example.test/a");
  EXPECT_EQ(later->storedResource(resources[0])->size, std::optional<std::uint64_t>(9));
  EXPECT_EQ(later->storedResource(resources[0])->sha256, std::string(64, 'b'));
}

TEST_F(CatalogContent, PathsLeavingTheLibraryAreNotFollowed) {
  for (const char* escape : {"../outside", "originals/../../x", "/etc/passwd", "a/.."}) {
    const NewAsset asset{MediaType::image, std::nullopt, "", "", escape, {}, {{escape, 10, 10, {}}}};
    const std::string id = std::string("escape-") + escape;
    ASSERT_TRUE(writer->addAsset(id, asset, std::nullopt));
    auto reader = CatalogReader::open(home.location());
    auto stored = reader->storedAsset(*writer->assetRow(id));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->original.path, "") << escape;
    EXPECT_TRUE(stored->derivatives.empty()) << escape;
  }
}

TEST_F(CatalogContent, TextThatIsNotUtf8IsStoredRepaired) {
  const NewAsset asset{MediaType::image, std::nullopt, "bad\xff\xfe-name\xc3.jpg", "", "originals/bad", {}, {}};
  ASSERT_TRUE(writer->addAsset("bad/L0/001", asset, std::nullopt));
  const std::string album = *writer->createAlbum(std::string("Caf\xe9 \xc3\x28"));
  auto later = library();  // a run after the writes
  const Asset bad = *later->fetchAssetsWithLocalIdentifiers({"bad/L0/001"})->firstObject();
  EXPECT_EQ(later->assetResources(bad).at(0).originalFilename,
            "bad\xEF\xBF\xBD\xEF\xBF\xBD-name\xEF\xBF\xBD.jpg");
  EXPECT_EQ(collection(*later, album).localizedTitle, std::optional<std::string>("Caf\xEF\xBF\xBD \xEF\xBF\xBD("));
}

TEST_F(CatalogContent, OneRunSeesOneSnapshot) {
  auto before = lib->fetchAssets(newest());
  add("H", MediaType::image, kBase + 9 * kDay);
  EXPECT_EQ(before->count(), 6u);
  EXPECT_EQ(lib->fetchAssets(newest())->count(), 6u);
  EXPECT_EQ(library()->fetchAssets(newest())->count(), 7u);
}

}  // namespace
}  // namespace tolvek

namespace tolvek {
namespace {

// The recorded digest is the standard SHA-256 in lower-case hexadecimal:
// other tools (sha256sum, a download's checksum) must agree with it,
// including across the 1 MiB reads of a larger file.
TEST(ContentDigest, IsTheStandardSha256) {
  testing::ScratchEnvironment scratch;
  const struct {
    std::string bytes;
    const char* sha256;
  } cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string((1 << 20) + 3, 'a'), "f5e25b6b994188fdb721357d459785dc479934edfd40f95658a45ab2ce2d8027"},
  };
  for (const auto& c : cases) {
    const std::string path = scratch.root() + "/file";
    ASSERT_TRUE(testing::writeFileBytes(path, c.bytes));
    auto digest = digestOfFile(path);
    ASSERT_TRUE(digest) << digest.status().message();
    EXPECT_EQ(digest->size, c.bytes.size());
    EXPECT_EQ(digest->sha256, c.sha256);
  }
}

}  // namespace
}  // namespace tolvek
