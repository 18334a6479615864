// `thumbs` of the built helper on a real library: JPEG data URLs of the
// expected sizes (one per side, whichever file serves it), in sRGB, upright
// pictures and video frames, no audio, damaged originals left out while the
// rest still comes out, and offloaded assets served from their derivatives
// without the network.
#include <gtest/gtest.h>

#include <filesystem>

#include "library/cover_size.h"
#include "support/http_test_server.h"
#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

namespace fs = std::filesystem;

struct Library {
  ScratchLibrary scratch;
  std::string landscape;   // 640x480 JPEG, upright
  std::string rotated;     // 640x480 upright, stored turned with EXIF orientation 6
  std::string heic;        // 800x600 HEIC
  std::string png;         // 300x400 PNG
  std::string video;       // 320x240 mp4
  std::string turnedVideo; // 320x240 stored, rotation metadata 90
  std::string audio;
  std::string corrupt, truncated, empty, deleted, huge;  // originals damaged, derivatives gone
  std::string uneven;          // 1400x1100 JPEG: its sides' scales round unevenly
  std::string unevenOriginal;  // the same size, derivatives deleted: rendered from the original
  std::string wide;            // 800x600 JPEG in Display P3 numbers, with its profile
  std::string derivativeOnly;  // original deleted, derivatives kept
  std::string offloaded;       // original only behind a URL
  std::string album;
  std::unique_ptr<HttpTestServer> server;

  void build() {
    ScratchLibrary& s = scratch;
    const PictureFixture vga{.width = 640, .height = 480};
    const std::vector<std::pair<std::string*, std::string>> files = {
        {&landscape, s.picture("landscape.jpg", "jpeg", vga)},
        {&rotated, s.picture("rotated.jpg", "jpeg", {.width = 640, .height = 480, .orientation = 6})},
        {&heic, s.picture("picture.heic", "heic", {.width = 800, .height = 600})},
        {&png, s.picture("tall.png", "png", {.width = 300, .height = 400})},
        {&uneven, s.picture("uneven.jpg", "jpeg", {.width = 1400, .height = 1100})},
        {&unevenOriginal, s.picture("uneven-original.jpg", "jpeg", {.width = 1400, .height = 1100})},
        {&wide, s.picture("wide.jpg", "jpeg", {.width = 800, .height = 600, .displayP3 = true})},
        {&video, s.video("clip.mp4", {.width = 320, .height = 240})},
        {&turnedVideo, s.video("turned.mp4", {.width = 320, .height = 240, .rotate = 90})},
        {&audio, s.audio("sound.m4a")}};
    std::vector<std::pair<std::string*, std::string>> damaged;
    const std::vector<std::string*> broken = {&corrupt, &truncated,      &empty,    &deleted,
                                              &huge,    &derivativeOnly, &offloaded};
    const char* const names[] = {"corrupt", "truncated", "empty", "deleted", "huge", "derivative-only", "offloaded"};
    for (std::size_t i = 0; i < broken.size(); ++i)
      damaged.emplace_back(broken[i], s.picture(names[i] + std::string(".jpg"), "jpeg", vga));
    ASSERT_FALSE(::testing::Test::HasFailure()) << "the source files could not be made";
    s.importInto(files);
    s.importInto(damaged);

    // Damage the library's copies; without derivatives nothing else can stand in.
    for (std::size_t i = 0; i < 5; ++i) {
      for (const std::string& d : s.derivativePaths(*damaged[i].first)) fs::remove(d);
      const auto original = s.originalPath(*damaged[i].first);
      ASSERT_TRUE(original);
      switch (i) {
        case 0: {
          std::string garbage = readFileBytes(*original).value_or("");
          for (std::size_t k = 200; k < garbage.size(); k += 3) garbage[k] = static_cast<char>(garbage[k] ^ 0x5A);
          ASSERT_TRUE(writeFileBytes(*original, garbage));
          break;
        }
        case 1: ASSERT_TRUE(writeTruncatedCopy(*original, *original, 300)); break;
        case 2: ASSERT_TRUE(writeFileBytes(*original, "")); break;
        case 3: fs::remove(*original); break;
        case 4: ASSERT_TRUE(writePngHeaderOnly(*original, 100000, 100000)); break;
      }
    }
    for (const std::string& d : s.derivativePaths(unevenOriginal)) fs::remove(d);
    ASSERT_FALSE(s.derivativePaths(derivativeOnly).empty());
    fs::remove(*s.originalPath(derivativeOnly));

    server = std::make_unique<HttpTestServer>(std::chrono::seconds(600));
    server->serve("/offloaded.jpg", HttpPlan{.body = *readFileBytes(damaged[6].second)});
    s.tool({"offload", offloaded, server->url("/offloaded.jpg")});

    album = s.createAlbum("Album");
    s.addToAlbum(album, {landscape});
    s.grantAccess();
  }
};

class Thumbs : public SharedLibraryTest<Library> {
 protected:
  // Runs thumbs and gives each member's JPEG bytes; every value must be a
  // JPEG data URL.
  static std::map<std::string, std::string> thumbs(const std::string& size, const std::string& ids) {
    const Json document = lib_->scratch.run({"thumbs", size, ids});
    std::map<std::string, std::string> jpegs;
    if (!document.contains("thumbs") || !document["thumbs"].is_object() || document.size() != 1) {
      ADD_FAILURE() << "no thumbs object: " << document.dump().substr(0, 300);
      return jpegs;
    }
    for (const auto& [id, value] : document["thumbs"].items()) {
      EXPECT_TRUE(value.is_string());
      const auto jpeg = jpegFromDataUrl(value.is_string() ? value.get<std::string>() : "");
      EXPECT_TRUE(jpeg) << id << ": not a JPEG data URL";
      if (jpeg) jpegs[id] = *jpeg;
    }
    return jpegs;
  }
};

TEST_F(Thumbs, PicturesComeOutUprightAtTheSmallestSizeCoveringTheSquare) {
  const auto jpegs = thumbs("240", joinIds({lib_->landscape, lib_->rotated, lib_->heic, lib_->png}));
  ASSERT_EQ(jpegs.size(), 4u);
  const struct {
    std::string id, what;
    int width, height;
  } cases[] = {{lib_->landscape, "4:3 JPEG", 320, 240},
               {lib_->rotated, "EXIF-turned JPEG", 320, 240},
               {lib_->heic, "HEIC", 320, 240},
               {lib_->png, "3:4 PNG", 240, 320}};
  for (const auto& c : cases) {
    EXPECT_TRUE(hasPictureSize(jpegs.at(c.id), c.width, c.height)) << c.what;
    EXPECT_TRUE(showsUprightMarker(jpegs.at(c.id))) << c.what;
    EXPECT_FALSE(pictureMetadata(jpegs.at(c.id), "exif-ifd0-Orientation")) << c.what << ": a thumbnail carries no EXIF";
  }
}

TEST_F(Thumbs, TheSideIsBoundedAndAMalformedSizeMeans240) {
  const struct {
    const char* side;
    int width, height;
  } cases[] = {{"64", 85, 64},
               {"1", 85, 64},
               {"-5", 85, 64},
               {"abc", 320, 240},
               {"9223372036854775808", 320, 240},
               // Never larger than the original: 1024 and beyond give the whole 640x480.
               {"1024", 640, 480},
               {"99999", 640, 480}};
  for (const auto& c : cases) {
    EXPECT_TRUE(hasPictureSize(thumbs(c.side, lib_->landscape).at(lib_->landscape), c.width, c.height)) << c.side;
  }
}

// One request has one answer: handed over, shrunk from a derivative or
// rendered from the original, a side gives the size the original's gives.
TEST_F(Thumbs, EverySideHasOneSizeWhicheverFileGivesIt) {
  for (const std::int64_t side : {64, 79, 101, 138, 200, 240, 258, 302, 400, 512, 600}) {
    const auto jpegs = thumbs(std::to_string(side), joinIds({lib_->uneven, lib_->unevenOriginal}));
    ASSERT_EQ(jpegs.size(), 2u) << side;
    const PixelSize expected = coverSize({1400, 1100}, {side, side});
    for (const auto& [id, jpeg] : jpegs) {
      EXPECT_TRUE(hasPictureSize(jpeg, static_cast<int>(expected.width), static_cast<int>(expected.height)))
          << side << (id == lib_->uneven ? " from the derivatives" : " from the original");
    }
  }
}

// A Display P3 picture shows its colours, in sRGB, on every path: its
// derivative handed over (240), shrunk by the JPEG module (64, 300) and its
// original rendered (1024).
TEST_F(Thumbs, WideGamutColoursAreShownOnEveryPath) {
  for (const char* side : {"64", "240", "300", "1024"}) {
    const auto jpegs = thumbs(side, lib_->wide);
    ASSERT_EQ(jpegs.count(lib_->wide), 1u) << side;
    EXPECT_TRUE(showsSrgbMarker(jpegs.at(lib_->wide))) << side;
    EXPECT_TRUE(showsUprightMarker(jpegs.at(lib_->wide))) << side;
  }
}

TEST_F(Thumbs, VideosGiveAnUprightFrameAndAudioNothing) {
  const auto jpegs = thumbs("240", joinIds({lib_->video, lib_->turnedVideo, lib_->audio}));
  EXPECT_EQ(jpegs.count(lib_->audio), 0u);
  ASSERT_EQ(jpegs.count(lib_->video), 1u);
  ASSERT_EQ(jpegs.count(lib_->turnedVideo), 1u);
  EXPECT_TRUE(hasPictureSize(jpegs.at(lib_->video), 320, 240));
  EXPECT_TRUE(showsUprightMarker(jpegs.at(lib_->video)));
  // Shown turned by 90 degrees: portrait, with the marker where players show it.
  EXPECT_TRUE(hasPictureSize(jpegs.at(lib_->turnedVideo), 240, 320));
  ScratchFolder work;
  const auto original = lib_->scratch.originalPath(lib_->turnedVideo);
  ASSERT_TRUE(original);
  ASSERT_TRUE(writeFrameAsPlayersShowIt(*original, work.file("frame.png")));
  EXPECT_EQ(markerColoursIn(jpegs.at(lib_->turnedVideo)),
            markerColoursIn(readFileBytes(work.file("frame.png")).value_or("")));
}

TEST_F(Thumbs, DamagedOriginalsAreLeftOutAndTheRestStillComesOut) {
  const std::vector<std::string> ids = {lib_->corrupt, lib_->landscape, lib_->truncated, lib_->empty,
                                        lib_->deleted, lib_->huge,      lib_->png};
  const auto jpegs = thumbs("240", joinIds(ids));
  EXPECT_EQ(jpegs.size(), 2u);
  EXPECT_EQ(jpegs.count(lib_->landscape), 1u);
  EXPECT_EQ(jpegs.count(lib_->png), 1u);
  // Larger sides need the original; still nothing from the damaged ones.
  EXPECT_EQ(thumbs("1024", joinIds(ids)).size(), 2u);
}

TEST_F(Thumbs, ADeletedOriginalStillHasItsThumbnailFromTheDerivatives) {
  const auto jpegs = thumbs("240", lib_->derivativeOnly);
  ASSERT_EQ(jpegs.count(lib_->derivativeOnly), 1u);
  EXPECT_TRUE(hasPictureSize(jpegs.at(lib_->derivativeOnly), 320, 240)) << "from a derivative";
}

TEST_F(Thumbs, AnOffloadedAssetGetsItsThumbnailWithoutTheNetwork) {
  const int before = lib_->server->requestCount();
  const auto jpegs = thumbs("240", lib_->offloaded);
  ASSERT_EQ(jpegs.count(lib_->offloaded), 1u);
  EXPECT_TRUE(hasPictureSize(jpegs.at(lib_->offloaded), 320, 240));
  EXPECT_TRUE(showsUprightMarker(jpegs.at(lib_->offloaded)));
  EXPECT_EQ(lib_->server->requestCount(), before) << "a derivative covers 240: no download";
}

TEST_F(Thumbs, IdentifiersThatNameNoAssetAreLeftOutAndDuplicatesGiveOneMember) {
  const std::string bigText(100 * 1024, 'y');
  const std::string ids = ",," + lib_->landscape + ",nothing," + lib_->album + "," + lib_->landscape + ",,%,_,\"," +
                          lib_->landscape + " ,🌅," + bigText.substr(0, 1000) + ",";
  const auto jpegs = thumbs("240", ids);
  ASSERT_EQ(jpegs.size(), 1u);
  EXPECT_EQ(jpegs.count(lib_->landscape), 1u);

  for (const std::string& nothing :
       {std::string(), std::string(",,,"), bigText, joinIds({lib_->audio, lib_->corrupt})}) {
    EXPECT_EQ(lib_->scratch.run({"thumbs", "240", nothing}), Json::parse(R"({"thumbs":{}})")) << nothing.substr(0, 60);
  }
}

}  // namespace
}  // namespace tolvek::testing
