// The asset queries on the in-memory library, and the table of media
// formats: each row's sniffer knows its own first bytes, no earlier row takes
// them, and the loader check follows the rows.
#include "library/asset_queries.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "library/media_formats.h"
#include "support/in_memory_library.h"

namespace tolvek {
namespace {

std::vector<std::string> identifiersOf(const std::vector<Asset>& found) {
  std::vector<std::string> ids;
  for (const Asset& asset : found) ids.push_back(asset.localIdentifier);
  return ids;
}

using Ids = std::vector<std::string>;

TEST(FetchOptions, PicturesAndVideosNewestFirstLimitedOnlyByAPositiveLimit) {
  const struct {
    std::int64_t limit;
    std::int64_t fetchLimit;
  } cases[] = {{0, 0}, {-1, 0}, {std::numeric_limits<std::int64_t>::min(), 0}, {1, 1}, {500, 500},
               {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max()}};
  for (const auto& c : cases) {
    const FetchOptions options = fetchOptions(c.limit);
    EXPECT_EQ(options.fetchLimit, c.fetchLimit) << c.limit;
    EXPECT_TRUE(options.newestFirst);
    EXPECT_EQ(options.mediaTypes, (std::vector<MediaType>{MediaType::image, MediaType::video}));
  }
}

// A library of every media type, with equal and missing dates and an album
// that holds audio too.
struct QueryTest : InMemoryLibraryTest {

  QueryTest() {
    library.addAssets({{"old", MediaType::image, 100}, {"undated", MediaType::image}, {"song", MediaType::audio, 900},
                       {"clip", MediaType::video, 500}, {"same-a", MediaType::image, 300},
                       {"unknown", MediaType::unknown, 800}, {"same-b", MediaType::image, 300},
                       {"new", MediaType::image, 700}});
    library.addCollection("album", CollectionType::album, "Trip");
    for (const char* id : {"old", "song", "clip", "undated", "new"}) library.addToCollection("album", id);
    library.addCollection("smart", CollectionType::smartAlbum, "Videos");
    library.addToCollection("smart", "clip");
    library.addCollection("empty", CollectionType::album, std::nullopt);
  }
};

TEST_F(QueryTest, WholeLibraryIsPicturesAndVideosNewestFirstWithTheLimitInTheQuery) {
  const Ids everything{"new", "clip", "same-b", "same-a", "old", "undated"};
  for (const std::string album : {"", "-"}) {
    EXPECT_EQ(identifiersOf(*assetsInAlbum(library, album, 0)), everything);
    EXPECT_EQ(identifiersOf(*assetsInAlbum(library, album, 3)), (Ids{"new", "clip", "same-b"}));
    EXPECT_EQ(library.calls().fetchOptions.back().fetchLimit, 3);
    EXPECT_EQ(identifiersOf(*assetsInAlbum(library, album, -4)), everything);
  }
  EXPECT_EQ(library.calls().collectionLookups, 0u);
}

TEST_F(QueryTest, AlbumGivesItsPicturesAndVideosWithoutAudio) {
  EXPECT_EQ(identifiersOf(*assetsInAlbum(library, "album", 0)), (Ids{"new", "clip", "old", "undated"}));
  EXPECT_EQ(identifiersOf(*assetsInAlbum(library, "album", 2)), (Ids{"new", "clip"}));
  EXPECT_EQ(library.calls().fetchOptions.back().fetchLimit, 2);
  EXPECT_EQ(library.calls().assetFetches, 0u);
  EXPECT_EQ(library.calls().collectionsFetchedFrom, (Ids{"album", "album"}));
}

TEST_F(QueryTest, AnyCollectionTypeIsAccepted) {
  EXPECT_EQ(identifiersOf(*assetsInAlbum(library, "smart", 10)), (Ids{"clip"}));
  EXPECT_TRUE(identifiersOf(*assetsInAlbum(library, "empty", 10)).empty());
  EXPECT_EQ(library.calls().assetFetches, 0u);
}

TEST_F(QueryTest, UnknownAlbumGivesTheWholeLibraryWithoutLimit) {
  const Ids everything{"new", "clip", "same-b", "same-a", "old", "undated"};
  for (const std::string& album : Ids{"nope", "Trip", "album ", "\"album\"", "%", "_", "\xF0\x9F\x93\xB7",
                                      std::string(100 * 1024, 'x')}) {
    EXPECT_EQ(identifiersOf(*assetsInAlbum(library, album, 2)), everything);
    EXPECT_EQ(library.calls().fetchOptions.back().fetchLimit, 0);
  }
}

TEST_F(QueryTest, IdentifiersGiveAssetsInTheCallersOrderInOneQuery) {
  EXPECT_EQ(identifiersOf(assetsWithIds(library, Ids{"old", "X", "clip", "old"})), (Ids{"old", "clip", "old"}));
  EXPECT_EQ(library.calls().identifierLookups, 1u);
  EXPECT_EQ(library.calls().identifierLists.back(), (Ids{"old", "X", "clip", "old"}));
  // No filter: audio and unknown media types come back too.
  EXPECT_EQ(identifiersOf(assetsWithIds(library, Ids{"song", "unknown", "undated"})),
            (Ids{"song", "unknown", "undated"}));
  EXPECT_EQ(library.calls().identifierLookups, 2u);
}

TEST_F(QueryTest, IdentifiersThatNameNothingGiveNothing) {
  EXPECT_TRUE(assetsWithIds(library, Ids{}).empty());
  EXPECT_TRUE(assetsWithIds(library, Ids{"", "album", "OLD", "old ", "%", std::string(100 * 1024, 'q')}).empty());
}

TEST_F(QueryTest, LimitedAccessSeesOnlyTheChosenAssetsAndNoCollection) {
  library.setStatus(AuthorizationStatus::limited);
  library.chooseForLimitedAccess({"old", "clip", "song"});
  EXPECT_EQ(identifiersOf(*assetsInAlbum(library, "-", 0)), (Ids{"clip", "old"}));
  EXPECT_EQ(identifiersOf(assetsWithIds(library, Ids{"new", "song", "old"})), (Ids{"song", "old"}));
  // The album is invisible, so it reads as an unknown identifier.
  EXPECT_EQ(identifiersOf(*assetsInAlbum(library, "smart", 1)), (Ids{"clip", "old"}));
}

using OriginalName = InMemoryLibraryTest;

TEST_F(OriginalName, PrefersPhotoAndVideoResourcesAndFallsBackByMediaType) {
  const struct {
    MediaType mediaType;
    std::vector<std::pair<ResourceType, std::string>> resources;
    std::string expected;
  } cases[] = {
      {MediaType::image, {{ResourceType::photo, "IMG_0001.HEIC"}}, "IMG_0001.HEIC"},
      {MediaType::image,
       {{static_cast<ResourceType>(5), "adjust.plist"}, {ResourceType::photo, "IMG_0002.JPG"}},
       "IMG_0002.JPG"},
      {MediaType::video, {{ResourceType::audio, "a.m4a"}, {ResourceType::video, "clip.MOV"}}, "clip.MOV"},
      {MediaType::image,
       {{static_cast<ResourceType>(5), "first.aae"}, {static_cast<ResourceType>(7), "second.dat"}},
       "first.aae"},
      {MediaType::video, {}, "video.mov"},
      {MediaType::image, {}, "photo.jpg"},
      {MediaType::audio, {}, "photo.jpg"},
      {MediaType::unknown, {}, "photo.jpg"},
      {MediaType::image, {{ResourceType::photo, ""}, {ResourceType::photo, "later.jpg"}}, "photo.jpg"},
      {MediaType::video, {{ResourceType::video, ""}, {ResourceType::video, "later.mov"}}, "video.mov"},
      {MediaType::video,
       {{static_cast<ResourceType>(9), ""}, {static_cast<ResourceType>(10), "other.bin"}},
       "video.mov"},
      {MediaType::image, {{ResourceType::photo, "  spaced name .Jpeg "}}, "  spaced name .Jpeg "},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = "asset" + std::to_string(n++);
    const Asset asset = library.addAsset(id, c.mediaType, 1);
    for (const auto& [type, name] : c.resources) library.addResource(id, type, name);
    EXPECT_EQ(originalName(library, asset), c.expected) << id;
  }
}

using InMemoryLibraryOrder = InMemoryLibraryTest;

TEST_F(InMemoryLibraryOrder, NewestFirstPutsTheLaterImportFirstOnEqualDatesAndUndatedLast) {
  library.addAsset("u1", MediaType::image);
  library.addAsset("a", MediaType::image, 5);
  library.addAsset("b", MediaType::video, 5);
  library.addAsset("u2", MediaType::image);
  library.addAsset("c", MediaType::image, 9);
  FetchOptions options;
  options.newestFirst = true;
  EXPECT_EQ(identifiersOf(*library.fetchAssets(options)), (Ids{"c", "b", "a", "u2", "u1"}));
  options.newestFirst = false;
  EXPECT_EQ(identifiersOf(*library.fetchAssets(options)), (Ids{"u1", "a", "b", "u2", "c"}));
}

std::string ftyp(const std::string& major, const std::string& compatible) {
  const std::string size(1, static_cast<char>(16 + compatible.size()));
  return std::string(3, '\0') + size + "ftyp" + major + std::string(4, '\0') + compatible;
}

struct SniffCase {
  std::string head;
  const char* typeIdentifier;  // null: no row
};

class SniffedFormats : public ::testing::TestWithParam<SniffCase> {};

TEST_P(SniffedFormats, FirstMatchingRowDecides) {
  const MediaFormat* format = sniffMediaFormat(GetParam().head);
  if (GetParam().typeIdentifier == nullptr) {
    EXPECT_EQ(format, nullptr) << format->typeIdentifier;
  } else {
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->typeIdentifier, GetParam().typeIdentifier);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Heads, SniffedFormats,
    ::testing::Values(
        SniffCase{"\xFF\xD8\xFF\xE0 rest", "public.jpeg"}, SniffCase{"\xFF\xD8", nullptr},
        SniffCase{"\x89PNG\r\n\x1A\n....", "public.png"}, SniffCase{"\x89PNG\r\n", nullptr},
        SniffCase{"GIF87a...", "com.compuserve.gif"}, SniffCase{"GIF89a...", "com.compuserve.gif"},
        SniffCase{"GIF88a...", nullptr}, SniffCase{std::string("II*\0....", 8), "public.tiff"},
        SniffCase{std::string("MM\0*....", 8), "public.tiff"}, SniffCase{std::string("II\0*....", 8), nullptr},
        SniffCase{std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "org.webmproject.webp"},
        SniffCase{std::string("RIFF\x10\0\0\0WAVEfmt ", 16), nullptr},
        SniffCase{std::string("RIFF\x10\0\0\0WEB", 11), nullptr}, SniffCase{ftyp("heic", ""), "public.heic"},
        SniffCase{ftyp("mif1", "avif"), "public.avif"}, SniffCase{ftyp("mif1", "mif1"), "public.heif"},
        SniffCase{ftyp("qt  ", ""), "com.apple.quicktime-movie"}, SniffCase{ftyp("M4VH", ""), "com.apple.m4v-video"},
        SniffCase{ftyp("M4B ", ""), "com.apple.m4a-audio"}, SniffCase{ftyp("isom", "heic"), "public.mpeg-4"},
        SniffCase{ftyp("isom", "").substr(0, 15), nullptr}, SniffCase{"ID3\x04 mp3", nullptr}, SniffCase{"", nullptr}));

TEST(MediaFormats, RowsAreOneEachAndFoundByTheirType) {
  std::set<std::string_view> types, extensions;
  for (const MediaFormat& format : kMediaFormats) {
    EXPECT_TRUE(types.insert(format.typeIdentifier).second) << format.typeIdentifier;
    EXPECT_TRUE(extensions.insert(format.extension).second) << format.extension;
    EXPECT_TRUE(format.extension.starts_with('.')) << format.typeIdentifier;
    EXPECT_EQ(mediaFormatOfType(format.typeIdentifier), &format);
    // Pictures are decoded by libvips and recognised by their bytes.
    EXPECT_EQ(format.family == FormatFamily::picture, !format.loaders[0].empty()) << format.typeIdentifier;
    EXPECT_EQ(format.family != FormatFamily::other, format.sniff != nullptr) << format.typeIdentifier;
  }
  EXPECT_EQ(mediaFormatOfType("public.unknown"), nullptr);
}

TEST(MediaFormats, OnlyThePictureRowsLoadersCount) {
  for (const char* accepted : {"VipsForeignLoadJpegFile", "jpegload_buffer", "VipsForeignLoadHeifSource",
                               "VipsForeignLoadNsgifFile", "pngload", "webpload_source", "tiffload"}) {
    EXPECT_TRUE(isPictureLoaderName(accepted)) << accepted;
  }
  for (const char* refused : {"VipsForeignLoadMagick", "magickload", "pdfload", "svgload", "matrixload", "", "jpeg"}) {
    EXPECT_FALSE(isPictureLoaderName(refused)) << refused;
  }
}

}  // namespace
}  // namespace tolvek
