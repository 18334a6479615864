#include "commands/thumbs_command.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <limits>

#include "commands/jpeg_data.h"
#include "support/in_memory_library.h"

namespace tolvek {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

using Ids = std::vector<std::string>;

// The bytes behind a data URL, or nothing when it is not one of ours.
std::optional<std::string> decodeDataUrl(const std::string& url) {
  if (url.rfind(kJpegDataUrlPrefix, 0) != 0) return std::nullopt;
  const std::string base64 = url.substr(kJpegDataUrlPrefix.size());
  if (base64.size() % 4 != 0 || base64.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  gsize length = 0;
  guchar* bytes = g_base64_decode(base64.c_str(), &length);
  std::string decoded(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  return decoded;
}

TEST(JpegDataUrl, StandardPaddedBase64OnOneLine) {
  const struct {
    std::string bytes;
    std::string base64;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foobar", "Zm9vYmFy"},
               {std::string("\xfb\xff\xbf", 3), "+/+/"},
               {std::string("\0\0\0", 3), "AAAA"},
               {std::string("\xff\xd8\xff", 3), "/9j/"}};
  for (const auto& c : cases) EXPECT_EQ(jpegDataUrl(c.bytes), "data:image/jpeg;base64," + c.base64);
  std::string large(100'000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  const std::string url = jpegDataUrl(large);
  EXPECT_EQ(url.find('\n'), std::string::npos);
  EXPECT_EQ(decodeDataUrl(url), large);
}

TEST(JpegData, NothingAtEachFailingStep) {
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t"), 0.8), fakeJpeg({640, 480}, "t", 0.8, JpegMetadata::none));
  EXPECT_EQ(jpegData(FakePicture({3, 2}, "t"), 0.92, JpegMetadata::keepCaptureData),
            fakeJpeg({3, 2}, "t", 0.92, JpegMetadata::keepCaptureData));
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t", FakeBitmapMode::noBitmap), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t", FakeBitmapMode::encodeFails), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({0, 480}, "t"), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({640, 0}, "t"), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({-1, -1}, "t"), 0.8), std::nullopt);
}

struct ThumbsTest : InMemoryLibraryTest {
  InMemoryImageManager& images = library.images();
};

TEST_F(ThumbsTest, SideIsBoundedAndOneSetOfOptionsServesTheRun) {
  library.addAsset("a", MediaType::image, 1);
  images.setPicture("a", {320, 240});
  const struct {
    std::int64_t size;
    std::int64_t side;
  } cases[] = {{kMin, 64}, {-1, 64},     {0, 64},      {63, 64},     {64, 64},    {65, 65},
               {240, 240}, {1023, 1023}, {1024, 1024}, {1025, 1024}, {kMax, 1024}};
  for (const auto& c : cases) {
    cmdThumbs(library, c.size, {"a"});
    const ImageRequestRecord& request = images.imageRequests().back();
    EXPECT_EQ(request.targetSize, (PixelSize{c.side, c.side})) << c.size;
    EXPECT_EQ(request.contentMode, ContentMode::aspectFill);
    EXPECT_TRUE(request.options.networkAccessAllowed);
  }
}

TEST_F(ThumbsTest, EachDeliveredPictureBecomesAJpegDataUrlKeyedByItsIdentifier) {
  library.addAsset("photo/L0/001", MediaType::image, 1);
  library.addAsset("clip", MediaType::video, 2);
  library.addAsset("odd \"id\" \xF0\x9F\x93\xB7", MediaType::unknown, 3);
  images.setPicture("photo/L0/001", {320, 240});
  images.setPicture("clip", {240, 426});
  images.setPicture("odd \"id\" \xF0\x9F\x93\xB7", {240, 240});
  const Document document = cmdThumbs(library, 240, {"clip", "odd \"id\" \xF0\x9F\x93\xB7", "photo/L0/001"});
  ASSERT_EQ(document.size(), 1u);
  const Document& thumbs = document.at("thumbs");
  ASSERT_TRUE(thumbs.is_object());
  ASSERT_EQ(thumbs.size(), 3u);
  // Encoded from the delivered picture at its own size, quality 0.8, bare.
  EXPECT_EQ(decodeDataUrl(thumbs.at("photo/L0/001")), fakeJpeg({320, 240}, "photo/L0/001", 0.8, JpegMetadata::none));
  EXPECT_EQ(decodeDataUrl(thumbs.at("clip")), fakeJpeg({240, 426}, "clip", 0.8, JpegMetadata::none));
  EXPECT_EQ(decodeDataUrl(thumbs.at("odd \"id\" \xF0\x9F\x93\xB7")),
            fakeJpeg({240, 240}, "odd \"id\" \xF0\x9F\x93\xB7", 0.8, JpegMetadata::none));
  // One request at a time, in the caller's order, after one identifier query.
  Ids requested;
  for (const auto& request : images.imageRequests()) requested.push_back(request.assetId);
  EXPECT_EQ(requested, (Ids{"clip", "odd \"id\" \xF0\x9F\x93\xB7", "photo/L0/001"}));
  EXPECT_EQ(library.calls().identifierLookups, 1u);
}

TEST_F(ThumbsTest, AssetsThatFailAreLeftOutAndTheRestComeOut) {
  library.addAsset("good", MediaType::image, 1);
  library.addAsset("no-picture", MediaType::image, 2);
  library.addAsset("song", MediaType::audio, 3);
  library.addAsset("no-bitmap", MediaType::image, 4);
  library.addAsset("no-encoding", MediaType::image, 5);
  library.addAsset("empty-size", MediaType::image, 6);
  library.addAsset("good-too", MediaType::video, 7);
  library.addCollection("album", CollectionType::album, "A");
  images.setPicture("good", {100, 100});
  images.setPicture("no-bitmap", {100, 100}, FakeBitmapMode::noBitmap);
  images.setPicture("no-encoding", {100, 100}, FakeBitmapMode::encodeFails);
  images.setPicture("empty-size", {0, 0});
  images.setPicture("good-too", {90, 160});
  const Document thumbs = cmdThumbs(library, 240,
                                    {"", "good", "no-picture", "song", "album", "missing", "no-bitmap", "no-encoding",
                                     "empty-size", "good-too", "good", std::string(100 * 1024, 'x')})
                              .at("thumbs");
  std::vector<std::string> keys;
  for (const auto& [key, value] : thumbs.items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (Ids{"good", "good-too"}));
  // The duplicate was requested again and still gives one member.
  EXPECT_EQ(images.imageRequests().size(), 8u);
}

TEST_F(ThumbsTest, NothingToRenderGivesAnEmptyObject) {
  library.addAsset("song", MediaType::audio, 1);
  EXPECT_EQ(cmdThumbs(library, 240, {}).dump(), R"({"thumbs":{}})");
  EXPECT_EQ(cmdThumbs(library, 240, {"song", "nothing"}).dump(), R"({"thumbs":{}})");
}

TEST_F(ThumbsTest, ALaterDeliveryReplacesAnEarlierOne) {
  library.addAsset("a", MediaType::image, 1);
  images.setPicture("a", {480, 240}, FakeBitmapMode::ok, /*placeholderFirst=*/true);
  const Document thumbs = cmdThumbs(library, 240, {"a"}).at("thumbs");
  EXPECT_EQ(decodeDataUrl(thumbs.at("a")), fakeJpeg({480, 240}, "a", 0.8, JpegMetadata::none));
}

}  // namespace
}  // namespace tolvek
