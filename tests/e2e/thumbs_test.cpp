// `thumbs` of the built helper on a real library: JPEG data URLs of the
// expected sizes, upright pictures and video frames, no audio, damaged
// originals left out while the rest still comes out, and offloaded assets
// served from their derivatives without the network.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
  std::string derivativeOnly;  // original deleted, derivatives kept
  std::string offloaded;       // original only behind a URL
  std::string album;
  std::unique_ptr<HttpTestServer> server;
};

class Thumbs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib_ = new Library;
    ScratchLibrary& s = lib_->scratch;
    const std::string src = s.work("src");
    fs::create_directories(src);
    ASSERT_TRUE(writePicture(src + "/landscape.jpg", "jpeg", {.width = 640, .height = 480}));
    ASSERT_TRUE(writePicture(src + "/rotated.jpg", "jpeg", {.width = 640, .height = 480, .orientation = 6}));
    ASSERT_TRUE(writePicture(src + "/picture.heic", "heic", {.width = 800, .height = 600}));
    ASSERT_TRUE(writePicture(src + "/tall.png", "png", {.width = 300, .height = 400}));
    ASSERT_TRUE(writeVideo(src + "/clip.mp4", {.width = 320, .height = 240}));
    ASSERT_TRUE(writeVideo(src + "/turned.mp4", {.width = 320, .height = 240, .rotate = 90}));
    ASSERT_TRUE(writeAudio(src + "/sound.m4a", "m4a"));
    std::vector<std::string> damaged;
    for (const char* name : {"corrupt", "truncated", "empty", "deleted", "huge", "derivative-only", "offloaded"}) {
      damaged.push_back(src + "/" + name + ".jpg");
      ASSERT_TRUE(writePicture(damaged.back(), "jpeg", {.width = 640, .height = 480}));
    }
    const auto ids = s.import({src + "/landscape.jpg", src + "/rotated.jpg", src + "/picture.heic", src + "/tall.png",
                               src + "/clip.mp4", src + "/turned.mp4", src + "/sound.m4a"});
    lib_->landscape = ids[0];
    lib_->rotated = ids[1];
    lib_->heic = ids[2];
    lib_->png = ids[3];
    lib_->video = ids[4];
    lib_->turnedVideo = ids[5];
    lib_->audio = ids[6];
    const auto broken = s.import(damaged);
    lib_->corrupt = broken[0];
    lib_->truncated = broken[1];
    lib_->empty = broken[2];
    lib_->deleted = broken[3];
    lib_->huge = broken[4];
    lib_->derivativeOnly = broken[5];
    lib_->offloaded = broken[6];

    // Damage the library's copies; without derivatives nothing else can stand in.
    for (std::size_t i = 0; i < 5; ++i) {
      for (const std::string& d : s.derivativePaths(broken[i])) fs::remove(d);
      const auto original = s.originalPath(broken[i]);
      ASSERT_TRUE(original);
      const auto bytes = readFileBytes(*original);
      ASSERT_TRUE(bytes);
      switch (i) {
        case 0: {
          std::string garbage = *bytes;
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
    ASSERT_FALSE(s.derivativePaths(lib_->derivativeOnly).empty());
    fs::remove(*s.originalPath(lib_->derivativeOnly));

    lib_->server = std::make_unique<HttpTestServer>(std::chrono::seconds(600));
    lib_->server->serve("/offloaded.jpg", HttpPlan{.body = *readFileBytes(src + "/offloaded.jpg")});
    s.tool({"offload", lib_->offloaded, lib_->server->url("/offloaded.jpg")});

    lib_->album = s.createAlbum("Album");
    s.addToAlbum(lib_->album, {lib_->landscape});
    s.grantAccess();
  }
  static void TearDownTestSuite() {
    delete lib_;
    lib_ = nullptr;
  }

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
  static void expectSize(const std::string& jpeg, int width, int height, const std::string& what) {
    const auto size = encodedPictureSize(jpeg);
    ASSERT_TRUE(size) << what << " does not decode";
    EXPECT_EQ(size->width, width) << what;
    EXPECT_EQ(size->height, height) << what;
  }
  static void expectUpright(const std::string& jpeg, const std::string& what) {
    EXPECT_EQ(pictureOrientation(jpeg), 1) << what;
    for (Quadrant q : {Quadrant::topLeft, Quadrant::topRight, Quadrant::bottomLeft, Quadrant::bottomRight}) {
      EXPECT_EQ(markerColourIn(jpeg, q), markerColourAt(q)) << what << ", quadrant " << static_cast<int>(q);
    }
  }

  static Library* lib_;
};

Library* Thumbs::lib_ = nullptr;

TEST_F(Thumbs, PicturesComeOutUprightAtTheSmallestSizeCoveringTheSquare) {
  const auto jpegs = thumbs("240", joinIds({lib_->landscape, lib_->rotated, lib_->heic, lib_->png}));
  ASSERT_EQ(jpegs.size(), 4u);
  expectSize(jpegs.at(lib_->landscape), 320, 240, "4:3 JPEG");
  expectUpright(jpegs.at(lib_->landscape), "4:3 JPEG");
  expectSize(jpegs.at(lib_->rotated), 320, 240, "EXIF-turned JPEG");
  expectUpright(jpegs.at(lib_->rotated), "EXIF-turned JPEG");
  expectSize(jpegs.at(lib_->heic), 320, 240, "HEIC");
  expectUpright(jpegs.at(lib_->heic), "HEIC");
  expectSize(jpegs.at(lib_->png), 240, 320, "3:4 PNG");
  expectUpright(jpegs.at(lib_->png), "3:4 PNG");
  for (const auto& [id, jpeg] : jpegs) {
    EXPECT_FALSE(pictureMetadata(jpeg, "exif-ifd0-Orientation")) << id << ": a thumbnail carries no EXIF";
  }
}

TEST_F(Thumbs, TheSideIsBoundedAndAMalformedSizeMeans240) {
  const std::string ids = joinIds({lib_->landscape});
  expectSize(thumbs("64", ids).at(lib_->landscape), 85, 64, "side 64");
  expectSize(thumbs("1", ids).at(lib_->landscape), 85, 64, "side 1 is 64");
  expectSize(thumbs("-5", ids).at(lib_->landscape), 85, 64, "side -5 is 64");
  expectSize(thumbs("abc", ids).at(lib_->landscape), 320, 240, "side abc is 240");
  expectSize(thumbs("9223372036854775808", ids).at(lib_->landscape), 320, 240, "an overflowing side is 240");
  // Never larger than the original: 1024 and beyond give the whole 640x480.
  expectSize(thumbs("1024", ids).at(lib_->landscape), 640, 480, "side 1024");
  expectSize(thumbs("99999", ids).at(lib_->landscape), 640, 480, "side 99999");
}

TEST_F(Thumbs, VideosGiveAnUprightFrameAndAudioNothing) {
  const auto jpegs = thumbs("240", joinIds({lib_->video, lib_->turnedVideo, lib_->audio}));
  EXPECT_EQ(jpegs.count(lib_->audio), 0u);
  ASSERT_EQ(jpegs.count(lib_->video), 1u);
  ASSERT_EQ(jpegs.count(lib_->turnedVideo), 1u);
  expectSize(jpegs.at(lib_->video), 320, 240, "video");
  expectUpright(jpegs.at(lib_->video), "video");
  // Shown turned by 90 degrees: portrait, with the marker where players show it.
  expectSize(jpegs.at(lib_->turnedVideo), 240, 320, "turned video");
  ScratchFolder work;
  const auto original = lib_->scratch.originalPath(lib_->turnedVideo);
  ASSERT_TRUE(original);
  ASSERT_TRUE(writeFrameAsPlayersShowIt(*original, work.file("frame.png")));
  const auto shown = readFileBytes(work.file("frame.png"));
  ASSERT_TRUE(shown);
  for (Quadrant q : {Quadrant::topLeft, Quadrant::topRight, Quadrant::bottomLeft, Quadrant::bottomRight}) {
    EXPECT_EQ(markerColourIn(jpegs.at(lib_->turnedVideo), q), markerColourIn(*shown, q))
        << "quadrant " << static_cast<int>(q);
  }
}

TEST_F(Thumbs, DamagedOriginalsAreLeftOutAndTheRestStillComesOut) {
  const std::vector<std::string> ids = {lib_->corrupt, lib_->landscape, lib_->truncated, lib_->empty,
                                        lib_->deleted, lib_->huge,      lib_->png};
  const auto jpegs = thumbs("240", joinIds(ids));
  EXPECT_EQ(jpegs.size(), 2u);
  EXPECT_EQ(jpegs.count(lib_->landscape), 1u);
  EXPECT_EQ(jpegs.count(lib_->png), 1u);
  // Larger sides need the original; still nothing from the damaged ones.
  const auto large = thumbs("1024", joinIds(ids));
  EXPECT_EQ(large.size(), 2u);
}

TEST_F(Thumbs, ADeletedOriginalStillHasItsThumbnailFromTheDerivatives) {
  const auto jpegs = thumbs("240", lib_->derivativeOnly);
  ASSERT_EQ(jpegs.count(lib_->derivativeOnly), 1u);
  expectSize(jpegs.at(lib_->derivativeOnly), 320, 240, "from a derivative");
}

TEST_F(Thumbs, AnOffloadedAssetGetsItsThumbnailWithoutTheNetwork) {
  const int before = lib_->server->requestCount();
  const auto jpegs = thumbs("240", lib_->offloaded);
  ASSERT_EQ(jpegs.count(lib_->offloaded), 1u);
  expectSize(jpegs.at(lib_->offloaded), 320, 240, "offloaded");
  expectUpright(jpegs.at(lib_->offloaded), "offloaded");
  EXPECT_EQ(lib_->server->requestCount(), before) << "a derivative covers 240: no download";
}

TEST_F(Thumbs, IdentifiersThatNameNoAssetAreLeftOutAndDuplicatesGiveOneMember) {
  const std::string bigText(100 * 1024, 'y');
  const std::string ids = ",," + lib_->landscape + ",nothing," + lib_->album + "," + lib_->landscape + ",,%,_,\"," +
                          lib_->landscape + " ,🌅," + bigText.substr(0, 1000) + ",";
  const auto jpegs = thumbs("240", ids);
  ASSERT_EQ(jpegs.size(), 1u);
  EXPECT_EQ(jpegs.count(lib_->landscape), 1u);

  EXPECT_EQ(lib_->scratch.run({"thumbs", "240", ""}), Json::parse(R"({"thumbs":{}})"));
  EXPECT_EQ(lib_->scratch.run({"thumbs", "240", ",,,"}), Json::parse(R"({"thumbs":{}})"));
  EXPECT_EQ(lib_->scratch.run({"thumbs", "240", bigText}), Json::parse(R"({"thumbs":{}})"));
  EXPECT_EQ(lib_->scratch.run({"thumbs", "240", joinIds({lib_->audio, lib_->corrupt})}), Json::parse(R"({"thumbs":{}})"));
}

}  // namespace
}  // namespace tolvek::testing
