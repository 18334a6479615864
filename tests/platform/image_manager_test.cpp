// Image requests on the library on disk: derivatives first, originals with
// shrink-on-load, video frames, remote originals, and every fault giving none.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux_image_manager.h"
#include "support/fake_stored_asset_index.h"
#include "support/http_test_server.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

struct Rendered {
  int calls = 0;
  std::unique_ptr<Picture> picture;
  std::string jpeg;
};

class ImageRequests : public ::testing::Test {
 protected:
  Rendered request(std::int64_t handle, PixelSize target, bool network = false) {
    Rendered result;
    ImageRequestOptions options;
    options.networkAccessAllowed = network;
    Asset asset;
    asset.handle = handle;
    asset.mediaType = index.assets.count(handle) ? index.assets[handle].mediaType : MediaType::image;
    manager.requestImage(asset, target, ContentMode::aspectFill, options, [&](std::unique_ptr<Picture> picture) {
      ++result.calls;
      result.picture = std::move(picture);
    });
    if (result.picture) {
      if (auto bitmap = result.picture->bitmap()) result.jpeg = bitmap->jpegRepresentation(0.8, JpegMetadata::none).value_or("");
    }
    return result;
  }

  // An original (upright marker) and a derivative that shows the marker
  // upside down, so each result says where it came from.
  void addPictureWithDerivative(std::int64_t handle, PictureFixture original, int derivativeWidth,
                                int derivativeHeight) {
    const std::string originalPath = folder.file(std::to_string(handle) + "-original.jpg");
    const std::string derivativePath = folder.file(std::to_string(handle) + "-derivative.jpg");
    ASSERT_TRUE(writePicture(originalPath, "jpeg", original));
    // Stored turned by 180 degrees and without a tag: shown upside down.
    ASSERT_TRUE(writePicture(folder.file("turned.jpg"), "jpeg",
                             PictureFixture{.width = derivativeWidth, .height = derivativeHeight, .orientation = 3}));
    ASSERT_TRUE(writeFileBytes(derivativePath, withoutExif(readFileBytes(folder.file("turned.jpg")).value_or(""))));
    index.assets[handle] = StoredAsset{MediaType::image,
                                       StoredOriginal{originalPath, "", "public.jpeg", {}, {}},
                                       {StoredDerivative{derivativePath, derivativeWidth, derivativeHeight, {}}}};
  }

  // An asset whose original is at `path` or `url`, without derivatives.
  void store(std::int64_t handle, MediaType type, const std::string& path, const std::string& typeIdentifier,
             const std::string& url = "") {
    index.assets[handle] = StoredAsset{type, StoredOriginal{path, url, typeIdentifier, {}, {}}, {}};
  }

  // The JPEG re-encoded by libvips with every tag dropped (so the orientation is lost).
  static std::string withoutExif(const std::string& jpeg) {
    const auto app1 = jpeg.find("\xFF\xE1");
    if (app1 == std::string::npos) return jpeg;
    const std::size_t length = (static_cast<unsigned char>(jpeg[app1 + 2]) << 8) | static_cast<unsigned char>(jpeg[app1 + 3]);
    return jpeg.substr(0, app1) + jpeg.substr(app1 + 2 + length);
  }

  ScratchFolder folder;
  FakeStoredAssetIndex index;
  LinuxImageManager manager{index, DownloadLimits{5, 2}};
};

// Which source serves a request, and what is left when some are gone or
// damaged: the derivative shows the marker upside down, the original upright.
TEST_F(ImageRequests, TheSmallestCoveringSourceThatReadsServes) {
  enum class Damage { none, originalGone, derivativeGone, derivativeCut, allGone, unknownAsset };
  using enum Damage;
  using enum MarkerColour;
  const PictureFixture large{.width = 4032, .height = 3024}, medium{.width = 1200, .height = 900};
  const struct {
    const char* what;
    PictureFixture original;
    Damage damage;
    PixelSize target;
    std::optional<PixelSize> size;  // nothing: no picture
    MarkerColour topLeft;
  } cases[] = {
      {"a covering derivative", large, none, {240, 240}, PixelSize{320, 240}, white},
      {"larger than the derivatives: the original", large, none, {1024, 1024}, PixelSize{1365, 1024}, red},
      {"no original: a derivative", large, originalGone, {1024, 1024}, PixelSize{683, 512}, white},
      {"no derivative: the original", medium, derivativeGone, {240, 240}, PixelSize{320, 240}, red},
      {"a derivative cut to half its size: the original", medium, derivativeCut, {240, 240}, PixelSize{320, 240}, red},
      {"nothing left: none", PictureFixture{}, allGone, {240, 240}, std::nullopt, other},
      {"an unknown asset: none", PictureFixture{}, unknownAsset, {240, 240}, std::nullopt, other},
  };
  std::int64_t handle = 0;
  for (const auto& c : cases) {
    addPictureWithDerivative(++handle, c.original, 683, 512);
    StoredAsset& stored = index.assets[handle];
    if (c.damage == originalGone || c.damage == allGone) std::filesystem::remove(stored.original.path);
    if (c.damage == allGone) stored.derivatives.clear();
    if (c.damage == derivativeGone) std::filesystem::remove(stored.derivatives[0].path);
    if (c.damage == derivativeCut) {
      const std::string whole = readFileBytes(stored.derivatives[0].path).value_or("");
      stored.derivatives[0].bytes = whole.size();
      ASSERT_TRUE(writeFileBytes(stored.derivatives[0].path, whole.substr(0, whole.size() / 2)));
    }
    const Rendered result = request(c.damage == unknownAsset ? 99 : handle, c.target);
    EXPECT_EQ(result.calls, 1) << c.what;
    if (!c.size) {
      EXPECT_EQ(result.picture, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(result.picture, nullptr) << c.what;
    EXPECT_EQ(result.picture->size(), *c.size) << c.what;
    EXPECT_EQ(markerColourIn(result.jpeg, Quadrant::topLeft), c.topLeft) << c.what;
  }
}

TEST_F(ImageRequests, VideosGiveAnUprightFrameAudioGivesNone) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(writeVideo(folder.file("v.mov"),
                         VideoFixture{.width = 320, .height = 240, .container = "mov", .rotate = 90}));
  ASSERT_TRUE(writeAudio(folder.file("a.m4a"), "m4a"));
  store(1, MediaType::video, folder.file("v.mov"), "com.apple.quicktime-movie");
  store(2, MediaType::audio, folder.file("a.m4a"), "com.apple.m4a-audio");
  const Rendered video = request(1, {120, 120});
  ASSERT_NE(video.picture, nullptr);
  EXPECT_EQ(video.picture->size(), (PixelSize{120, 160}));
  const Rendered audio = request(2, {120, 120});
  EXPECT_EQ(audio.calls, 1);
  EXPECT_EQ(audio.picture, nullptr);
}

TEST_F(ImageRequests, RemoteOriginalIsDownloadedOnlyWithNetworkAccess) {
  HttpTestServer server;
  ASSERT_TRUE(server.listening());
  ASSERT_TRUE(writePicture(folder.file("remote.jpg"), "jpeg", PictureFixture{.width = 800, .height = 600}));
  server.serve("/remote.jpg", HttpPlan{readFileBytes(folder.file("remote.jpg")).value_or("")});
  store(1, MediaType::image, "", "public.jpeg", server.url("/remote.jpg"));
  EXPECT_EQ(request(1, {240, 240}, false).picture, nullptr);
  EXPECT_EQ(server.requestCount(), 0);
  const Rendered result = request(1, {240, 240}, true);
  ASSERT_NE(result.picture, nullptr);
  EXPECT_EQ(result.picture->size(), (PixelSize{320, 240}));
  server.serve("/missing.jpg", HttpPlan{"", HttpBehaviour::notFound});
  store(2, MediaType::image, "", "public.jpeg", server.url("/missing.jpg"));
  EXPECT_EQ(request(2, {240, 240}, true).picture, nullptr);
}

class DataRequests : public ImageRequests {
 protected:
  struct Data {
    int calls = 0;
    std::optional<std::string> bytes;
    std::optional<std::string> typeIdentifier;
  };
  Data requestData(std::int64_t handle, bool network = false) {
    Data data;
    ImageRequestOptions options;
    options.networkAccessAllowed = network;
    Asset asset;
    asset.handle = handle;
    manager.requestImageDataAndOrientation(asset, options,
                                           [&](std::optional<std::string> bytes, std::optional<std::string> type) {
                                             ++data.calls;
                                             data.bytes = std::move(bytes);
                                             data.typeIdentifier = std::move(type);
                                           });
    return data;
  }
};

TEST_F(DataRequests, OriginalBytesAndTypeIdentifier) {
  ASSERT_TRUE(writePicture(folder.file("p.heic"), "heic", PictureFixture{}));
  store(1, MediaType::image, folder.file("p.heic"), "public.heic");
  const Data data = requestData(1);
  EXPECT_EQ(data.calls, 1);
  EXPECT_EQ(data.bytes, readFileBytes(folder.file("p.heic")));
  EXPECT_EQ(data.typeIdentifier, "public.heic");
}

TEST_F(DataRequests, NoneForVideosAudioAndMissingOriginals) {
  ASSERT_TRUE(writeFileBytes(folder.file("v.mov"), "movie bytes"));
  store(1, MediaType::video, folder.file("v.mov"), "com.apple.quicktime-movie");
  store(2, MediaType::audio, folder.file("v.mov"), "com.apple.m4a-audio");
  store(3, MediaType::image, folder.file("gone.jpg"), "public.jpeg");
  store(4, MediaType::image, folder.path(), "public.jpeg");
  for (std::int64_t handle : {1, 2, 3, 4, 5}) {
    const Data data = requestData(handle);
    EXPECT_EQ(data.calls, 1);
    EXPECT_FALSE(data.bytes) << handle;
    EXPECT_FALSE(data.typeIdentifier) << handle;
  }
}

TEST_F(DataRequests, RemoteOriginalComesOverTheNetworkWhenAllowed) {
  HttpTestServer server;
  const std::string body(300000, 'x');
  server.serve("/p.jpg", HttpPlan{.body = body, .behaviour = HttpBehaviour::slow, .chunkSize = 65536, .pause = std::chrono::milliseconds(5)});
  server.serve("/cut.jpg", HttpPlan{.body = body, .behaviour = HttpBehaviour::cutOff, .cutAfter = 4096});
  store(1, MediaType::image, "", "public.jpeg", server.url("/p.jpg"));
  store(2, MediaType::image, "", "public.jpeg", server.url("/cut.jpg"));
  EXPECT_FALSE(requestData(1, false).bytes);
  const Data data = requestData(1, true);
  EXPECT_EQ(data.bytes, body);
  EXPECT_EQ(data.typeIdentifier, "public.jpeg");
  const Data cut = requestData(2, true);
  EXPECT_EQ(cut.calls, 1);
  EXPECT_FALSE(cut.bytes);
}

}  // namespace
}  // namespace tolvek::testing
