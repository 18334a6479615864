// Rendering files at a covering size, video frames, and import derivatives,
// in sRGB whatever profile the picture carries; nothing of libvips, libheif, GLib or FFmpeg reaches standard error, even on
// damaged input (a child process does the work so its stderr can be checked).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <vips/vips.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "media_test_module.h"
#include "library/cover_size.h"
#include "support/media_fixtures.h"
#include "support/raw_fixtures.h"
#include "support/process_runner.h"

namespace tolvek::testing {
namespace {

std::unique_ptr<Picture> render(const std::string& path, MediaType type = MediaType::image, PixelSize box = {240, 240},
                                std::uint64_t recordedBytes = 0, std::optional<PixelSize> original = std::nullopt) {
  return mediaModule().renderFile(path, recordedBytes, type, box, original);
}

TEST(CoverSize, SmallestSizeCoveringTheBox) {
  EXPECT_EQ(coverSize({4032, 3024}, {240, 240}), (PixelSize{320, 240}));
  EXPECT_EQ(coverSize({3024, 4032}, {240, 240}), (PixelSize{240, 320}));
  EXPECT_EQ(coverSize({1000, 1000}, {240, 120}), (PixelSize{240, 240}));
  EXPECT_EQ(coverSize({10000, 10}, {64, 64}), (PixelSize{10000, 10}));  // never enlarged
  EXPECT_EQ(coverSize({200, 100}, {240, 240}), (PixelSize{200, 100}));
  EXPECT_EQ(coverSize({4032, 3024}, {0, 0}), (PixelSize{4032, 3024}));
  EXPECT_EQ(coverSize({4032, 3024}, {-1, -1}), (PixelSize{4032, 3024}));
}

TEST(RenderPicture, UprightAtTheCoveringSizeAndNeverEnlarged) {
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("a.jpg"), "jpeg", {.width = 4032, .height = 3024}));
  ASSERT_TRUE(writePicture(folder.file("side.jpg"), "jpeg", {.width = 900, .height = 600, .orientation = 6}));
  ASSERT_TRUE(writePicture(folder.file("small.png"), "png", {.width = 100, .height = 50}));
  const struct {
    const char* name;
    PixelSize size;
  } cases[] = {{"a.jpg", {320, 240}}, {"side.jpg", {360, 240}}, {"small.png", {100, 50}}};
  for (const auto& c : cases) {
    const auto picture = render(folder.file(c.name));
    ASSERT_NE(picture, nullptr) << c.name;
    EXPECT_EQ(picture->size(), c.size) << c.name;
    const std::string jpeg = jpegOf(*picture);
    EXPECT_EQ(encodedPictureSize(jpeg)->width, c.size.width) << c.name;
    EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red) << c.name;
    EXPECT_EQ(markerColourIn(jpeg, Quadrant::bottomRight), MarkerColour::white) << c.name;
  }
}

TEST(RenderPicture, TurnedPictureSmallerThanTheBoxComesWholeAndUpright) {
  ScratchFolder folder;
  for (int orientation : {3, 5, 6, 7, 8}) {
    const std::string path = folder.file("turned" + std::to_string(orientation) + ".jpg");
    ASSERT_TRUE(writePicture(path, "jpeg", {.width = 600, .height = 450, .orientation = orientation}));
    for (int round = 0; round < 3; ++round) {
      const auto picture = render(path, MediaType::image, {1024, 1024});
      ASSERT_NE(picture, nullptr) << "orientation " << orientation;
      EXPECT_EQ(picture->size(), (PixelSize{600, 450}));
      const std::string jpeg = jpegOf(*picture);
      EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red) << "orientation " << orientation;
      EXPECT_EQ(markerColourIn(jpeg, Quadrant::bottomRight), MarkerColour::white) << "orientation " << orientation;
    }
    const auto made =
        mediaModule().makeDerivatives(path, MediaType::image, folder.file("d" + std::to_string(orientation)));
    // Short of the large derivative's side: only the small one, upright.
    ASSERT_EQ(made.size(), 1u) << "orientation " << orientation;
    EXPECT_EQ(made[0].width, 320);
    EXPECT_EQ(made[0].height, 240);
  }
}

// The mean red, green and blue of `size` pixels of the picture at `path`
// as libvips' own thumbnailer gives them, converted to sRGB or as stored.
std::array<double, 3> referenceMean(const std::string& path, PixelSize size, bool toSrgb) {
  VipsImage* out = nullptr;
  const int failed = toSrgb ? vips_thumbnail(path.c_str(), &out, static_cast<int>(size.width), "height",
                                             static_cast<int>(size.height), "size", VIPS_SIZE_FORCE,
                                             "export_profile", "srgb", nullptr)
                            : vips_thumbnail(path.c_str(), &out, static_cast<int>(size.width), "height",
                                             static_cast<int>(size.height), "size", VIPS_SIZE_FORCE, nullptr);
  if (failed != 0) return {};
  void* buffer = nullptr;
  size_t length = 0;
  const int saved = vips_pngsave_buffer(out, &buffer, &length, "strip", TRUE, nullptr);
  g_object_unref(out);
  if (saved != 0) return {};
  const auto mean = meanColourIn(std::string_view(static_cast<const char*>(buffer), length));
  g_free(buffer);
  return mean.value_or(std::array<double, 3>{});
}

TEST(RenderPicture, PhoneHeicThumbnailIsUprightAndInSrgb) {
  const std::string path = samplesDir() + "/heif/iphone_13_pro_max.HEIC";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample at " << path;
  const auto picture = render(path);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->size(), (PixelSize{240, 320}));
  // Its Display P3 numbers converted: the mean colour is sRGB's (blue 70
  // where the P3 numbers give 76), within what the JPEG changes.
  const auto mean = meanColourIn(jpegOf(*picture));
  ASSERT_TRUE(mean);
  const auto srgb = referenceMean(path, {240, 320}, true), asStored = referenceMean(path, {240, 320}, false);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR((*mean)[k], srgb[k], 1.5) << "band " << k << "; as stored " << asStored[k];
  }
  EXPECT_GT(std::abs(srgb[2] - asStored[2]), 4.0) << "the profile changes the sample's colours";
}

// A wide-gamut picture (Display P3 numbers and profile, as phones write
// them) shows sRGB colours on every path that drops its profile: thumbnails
// shrunk and whole, derivatives, decoded pictures; an export that keeps the
// profile keeps the numbers it describes.
TEST(WideGamut, EveryPathThatDropsTheProfileConvertsToSrgb) {
  ScratchFolder folder;
  const PictureFixture wide{.width = 800, .height = 600, .displayP3 = true};
  for (const std::string format : {"jpeg", "png", "heic"}) {
    const std::string path = folder.file("wide." + format);
    ASSERT_TRUE(writePicture(path, format, wide)) << format;
    const std::string stored = readFileBytes(path).value_or("");
    ASSERT_TRUE(hasPictureMetadata(stored, "icc-profile-data")) << format;
    ASSERT_FALSE(showsSrgbMarker(stored)) << format << ": P3 numbers read as sRGB are other colours";
    std::vector<std::pair<std::string, std::string>> shown;  // what, JPEG
    for (const std::int64_t side : {240, 1024}) {  // shrunk, whole
      const auto picture = render(path, MediaType::image, {side, side});
      ASSERT_NE(picture, nullptr) << format << " at " << side;
      shown.emplace_back("rendered at " + std::to_string(side), jpegOf(*picture));
    }
    for (const auto& made : mediaModule().makeDerivatives(path, MediaType::image, folder.file(format + "-d")))
      shown.emplace_back(made.path, readFileBytes(made.path).value_or(""));
    const auto decoded = mediaModule().pictureDecoder().decode(stored);
    ASSERT_NE(decoded, nullptr) << format;
    shown.emplace_back("decoded", jpegOf(*decoded));
    ASSERT_EQ(shown.size(), 5u) << format;
    for (const auto& [what, jpeg] : shown) {
      EXPECT_TRUE(showsSrgbMarker(jpeg)) << format << ", " << what;
      EXPECT_FALSE(hasPictureMetadata(jpeg, "icc-profile-data")) << format << ", " << what;
    }
    const std::string kept = jpegOf(*decoded, 0.92, JpegMetadata::keepCaptureData);
    EXPECT_TRUE(hasPictureMetadata(kept, "icc-profile-data")) << format;
    EXPECT_FALSE(showsSrgbMarker(kept)) << format << ": the numbers the profile describes";
  }
}

TEST(RenderPicture, WhatDecodesIsShownAndTheRestGivesNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("whole.jpg"), "jpeg", {.width = 800, .height = 600}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.jpg"), folder.file("cut.jpg"), 3000));
  ASSERT_TRUE(writePicture(folder.file("whole.heic"), "heic", {.width = 800, .height = 600}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.heic"), folder.file("cut.heic"), 2000));
  ASSERT_TRUE(writeFileBytes(folder.file("empty.jpg"), ""));
  ASSERT_TRUE(writePngHeaderOnly(folder.file("huge.png"), 100000, 100000));
  ASSERT_EQ(::mkfifo(folder.file("fifo.jpg").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", folder.file("zero.jpg").c_str()), 0);
  const std::uint64_t whole = readFileBytes(folder.file("whole.jpg")).value_or("").size();
  struct Case {
    const char* name;
    std::uint64_t recordedBytes;
    bool renders;
  };
  // A JPEG damaged at its end shows what decodes, as viewers show it; one
  // shorter than its recorded size is damaged and left to the original.
  const Case cases[] = {{"whole.jpg", 0, true},   {"whole.jpg", whole, true}, {"cut.jpg", 0, true},
                        {"cut.jpg", whole, false}, {"whole.heic", 0, true},    {"empty.jpg", 0, false},
                        {"huge.png", 0, false},    {"gone.jpg", 0, false},     {"fifo.jpg", 0, false},
                        {"zero.jpg", 0, false}};
  for (const Case& c : cases) {
    const auto picture = render(folder.file(c.name), MediaType::image, {240, 240}, c.recordedBytes);
    EXPECT_EQ(picture != nullptr, c.renders) << c.name << " recorded " << c.recordedBytes;
    if (picture && c.renders) {
      EXPECT_EQ(picture->size(), (PixelSize{320, 240})) << c.name;
    }
  }
}

class VideoRotation : public ::testing::TestWithParam<int> {};

TEST_P(VideoRotation, FirstFrameIsUprightLikePlayersShowIt) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ScratchFolder folder;
  const std::string video = folder.file("clip.mov");
  ASSERT_TRUE(writeVideo(video, {.width = 320, .height = 240, .container = "mov", .rotate = GetParam()}));
  ASSERT_TRUE(writeFrameAsPlayersShowIt(video, folder.file("shown.png")));
  const std::string shown = readFileBytes(folder.file("shown.png")).value_or("");
  const auto picture = render(video, MediaType::video, {120, 120});
  ASSERT_NE(picture, nullptr);
  const bool sideways = GetParam() % 180 != 0;
  EXPECT_EQ(picture->size(), sideways ? (PixelSize{120, 160}) : (PixelSize{160, 120}));
  const std::string jpeg = jpegOf(*picture);
  const std::vector<MarkerColour> shownColours = markerColoursIn(shown);
  EXPECT_EQ(std::count(shownColours.begin(), shownColours.end(), MarkerColour::other), 0);
  EXPECT_EQ(markerColoursIn(jpeg), shownColours) << "rotate " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Degrees, VideoRotation, ::testing::Values(0, 90, 180, 270));

TEST(RenderVideo, AudioAndBrokenVideosGiveNothing) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ScratchFolder folder;
  ASSERT_TRUE(writeAudio(folder.file("a.m4a"), "m4a"));
  EXPECT_EQ(render(folder.file("a.m4a"), MediaType::audio), nullptr);
  EXPECT_EQ(render(folder.file("a.m4a"), MediaType::video), nullptr);
  ASSERT_TRUE(writeVideo(folder.file("v.mp4"), {.width = 320, .height = 240, .seconds = 2}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("v.mp4"), folder.file("cut.mp4"), 600));
  EXPECT_EQ(render(folder.file("cut.mp4"), MediaType::video), nullptr);
  // A video under a picture's name is rendered as what it is, never as a picture.
  ASSERT_TRUE(writeVideo(folder.file("video.jpg"), {}));
  EXPECT_EQ(render(folder.file("video.jpg"), MediaType::image), nullptr);
}

TEST(Derivatives, UprightJpegsSmallestFirstWithoutMetadata) {
  ScratchFolder folder;
  PictureFixture fixture{.width = 4000, .height = 3000, .orientation = 8, .dateTimeOriginal = "2020:01:01 10:00:00"};
  ASSERT_TRUE(writePicture(folder.file("big.jpg"), "jpeg", fixture));
  const auto made = mediaModule().makeDerivatives(folder.file("big.jpg"), MediaType::image, folder.file("d"));
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[0].width, 320);
  EXPECT_EQ(made[0].height, 240);
  EXPECT_EQ(made[1].width, 683);
  EXPECT_EQ(made[1].height, 512);
  for (const auto& derivative : made) {
    const std::string jpeg = readFileBytes(derivative.path).value_or("");
    const auto size = encodedPictureSize(jpeg);
    ASSERT_TRUE(size) << derivative.path;
    EXPECT_EQ(size->width, derivative.width);
    EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red);
    EXPECT_EQ(jpeg.find("Exif"), std::string::npos) << "metadata left in " << derivative.path;
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos);
}

// Every covering size comes from the original's upright size, whichever
// file gives it: the derivatives have the sizes the original gives for
// their sides (not a rounding of a rounding), and a derivative rendered
// with the original's size gives what the original gives.
TEST(Derivatives, OneRequestHasOneSizeWhicheverFileRendersIt) {
  ScratchFolder folder;
  const struct {
    const char* name;
    PictureFixture picture;
  } cases[] = {{"wide.jpg", {.width = 1400, .height = 1100}},
               {"turned.jpg", {.width = 1100, .height = 1400, .orientation = 6}},
               {"four-three.jpg", {.width = 1333, .height = 1000}}};
  for (const auto& c : cases) {
    const std::string path = folder.file(c.name);
    ASSERT_TRUE(writePicture(path, "jpeg", c.picture));
    const PixelSize upright{c.picture.width, c.picture.height};
    const auto made = mediaModule().makeDerivatives(path, MediaType::image, folder.file(std::string(c.name) + "-d"));
    ASSERT_EQ(made.size(), 2u) << c.name;
    for (std::size_t i = 0; i < made.size(); ++i) {
      const std::int64_t side = i == 0 ? 240 : 512;
      const PixelSize expected = coverSize(upright, {side, side});
      EXPECT_EQ((PixelSize{made[i].width, made[i].height}), expected) << c.name << " " << side;
      EXPECT_TRUE(hasPictureSize(readFileBytes(made[i].path).value_or(""), static_cast<int>(expected.width),
                                 static_cast<int>(expected.height)))
          << c.name << " " << side;
      EXPECT_EQ(made[i].originalSize, std::optional<PixelSize>(upright)) << c.name;
    }
    for (const std::int64_t side : {64, 79, 101, 138, 200, 240, 258, 302, 400, 512}) {
      const PixelSize expected = coverSize(upright, {side, side});
      const auto fromDerivative = render(made[side <= 240 ? 0 : 1].path, MediaType::image, {side, side}, 0, upright);
      const auto fromOriginal = render(path, MediaType::image, {side, side});
      ASSERT_TRUE(fromDerivative && fromOriginal) << c.name << " at " << side;
      EXPECT_EQ(fromOriginal->size(), expected) << c.name << " at " << side;
      EXPECT_EQ(fromDerivative->size(), expected) << c.name << " from its derivative at " << side;
      EXPECT_TRUE(hasPictureSize(jpegOf(*fromDerivative), static_cast<int>(expected.width),
                                 static_cast<int>(expected.height)))
          << c.name << " at " << side;
    }
  }
}

TEST(Derivatives, SmallPictureIsKeptWholeAndVideosGetAFrame) {
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("small.png"), "png", {.width = 300, .height = 200}));
  const auto small = mediaModule().makeDerivatives(folder.file("small.png"), MediaType::image, folder.file("s"));
  ASSERT_EQ(small.size(), 1u);
  EXPECT_EQ(small[0].width, 300);
  EXPECT_EQ(small[0].height, 200);
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(writeVideo(folder.file("v.mov"),
                         VideoFixture{.width = 1280, .height = 720, .container = "mov", .rotate = 90}));
  const auto frames = mediaModule().makeDerivatives(folder.file("v.mov"), MediaType::video, folder.file("v"));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].width, 512);
  EXPECT_EQ(frames[1].height, 910);
  EXPECT_TRUE(mediaModule().makeDerivatives(folder.file("gone.jpg"), MediaType::image, folder.file("g")).empty());
  ASSERT_TRUE(writeAudio(folder.file("a.wav"), "wav"));
  EXPECT_TRUE(mediaModule().makeDerivatives(folder.file("a.wav"), MediaType::audio, folder.file("a")).empty());
}

// Run in a child process by PeakMemory below: renders the file named in
// TOLVEK_PEAK_FILE and prints the peak resident size in kilobytes.
TEST(PeakMemoryChild, DISABLED_RenderAndReport) {
  const char* path = std::getenv("TOLVEK_PEAK_FILE");
  ASSERT_NE(path, nullptr);
  const auto picture = render(path);
  ASSERT_NE(picture, nullptr);
  ASSERT_FALSE(jpegOf(*picture).empty());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("PEAK_KB=%ld\n", usage.ru_maxrss);
}

TEST(PeakMemory, HundredMegapixelJpegThumbnailStaysUnder200MB) {
  ScratchFolder folder;
  const std::string path = folder.file("huge.jpg");
  ASSERT_TRUE(writePicture(path, "jpeg", {.width = 12000, .height = 8400}));
  const ProcessResult child =
      runThisTestBinary("PeakMemoryChild.DISABLED_RenderAndReport", {.environment = {{"TOLVEK_PEAK_FILE", path}}});
  ASSERT_TRUE(child.exited()) << child.err;
  ASSERT_EQ(child.exitStatus, 0) << child.out;
  const auto at = child.out.find("PEAK_KB=");
  ASSERT_NE(at, std::string::npos) << child.out;
  const long peakKb = std::strtol(child.out.c_str() + at + 8, nullptr, 10);
  EXPECT_GT(peakKb, 0);
  EXPECT_LT(peakKb, 200 * 1024) << "peak " << peakKb / 1024 << " MB";
}

TEST(QuietChild, DISABLED_DamagedInputEverywhere) {
  const char* folderPath = std::getenv("TOLVEK_QUIET_DIR");
  ASSERT_NE(folderPath, nullptr);
  const std::string folder = folderPath;
  MediaModule& module = mediaModule();
  for (const char* name : {"cut.jpg", "scrambled.jpg", "cut.heic", "huge.png", "cut.mp4", "text.mov", "cut.dng"}) {
    const std::string path = folder + "/" + name;
    module.probe(path);
    module.renderFile(path, 0, MediaType::image, {240, 240}, std::nullopt);
    module.renderFile(path, 0, MediaType::video, {240, 240}, std::nullopt);
    module.makeDerivatives(path, MediaType::image, path + ".d");
    if (const auto bytes = readFileBytes(path)) {
      if (const auto picture = module.pictureDecoder().decode(*bytes)) jpegOf(*picture);
    }
  }
}

TEST(QuietOutput, DamagedInputWritesNothingToStandardError) {
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("whole.jpg"), "jpeg", {.width = 600, .height = 400}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.jpg"), folder.file("cut.jpg"), 2500));
  std::string scrambled = readFileBytes(folder.file("whole.jpg")).value_or("");
  for (std::size_t i = scrambled.size() / 3; i + 2 < scrambled.size(); i += 11) scrambled[i] = '\xFF';
  ASSERT_TRUE(writeFileBytes(folder.file("scrambled.jpg"), scrambled));
  ASSERT_TRUE(writePicture(folder.file("whole.heic"), "heic", {.width = 600, .height = 400}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.heic"), folder.file("cut.heic"), 1500));
  ASSERT_TRUE(writePngHeaderOnly(folder.file("huge.png"), 100000, 100000));
  ASSERT_TRUE(writeFileBytes(folder.file("text.mov"), "not a movie"));
  // A RAW cut in its sensor data: LibRaw's own handlers would print.
  ASSERT_TRUE(writeRaw(folder.file("whole.dng"), {.layout = RawLayout::dng, .previewWidth = 0, .sensorWidth = 200,
                                                  .sensorHeight = 140}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.dng"), folder.file("cut.dng"), 60000));
  if (haveFfmpeg()) {
    ASSERT_TRUE(writeVideo(folder.file("whole.mp4"), {.width = 320, .height = 240, .seconds = 2}));
    std::string video = readFileBytes(folder.file("whole.mp4")).value_or("");
    for (std::size_t i = video.size() / 4; i < video.size(); i += 97) video[i] = static_cast<char>(~video[i]);
    ASSERT_TRUE(writeFileBytes(folder.file("cut.mp4"), video));
  }
  const ProcessResult child = runThisTestBinary("QuietChild.*", {.environment = {{"TOLVEK_QUIET_DIR", folder.path()}}});
  ASSERT_TRUE(child.exited());
  EXPECT_EQ(child.exitStatus, 0) << child.out;
  EXPECT_EQ(child.err, "");
}

}  // namespace
}  // namespace tolvek::testing
