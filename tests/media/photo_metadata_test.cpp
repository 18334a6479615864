// Metadata the probe reads with exiv2: capture dates of every picture
// format in their order, offsets, ratings, Apple's content identifier, XMP
// sidecars, dates in names, camcorder videos, and hostile metadata.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "media_test_module.h"
#include "platform/media/apple_maker_note.h"
#include "platform/media/photo_metadata.h"
#include "support/media_fixtures.h"
#include "support/time_zone.h"

namespace tolvek::testing {
namespace {

using DateFrom = MediaProbe::DateFrom;
constexpr std::int64_t kInstant = 1626247800;  // 2021-07-14T07:30:00Z

TEST(AppleMakerNote, ContentIdentifierWithinBoundsOnly) {
  const std::string id = "A1B2C3D4-0000-1111-2222-333344445555";
  std::string pastEnd = appleMakerNote(id);
  pastEnd.resize(pastEnd.size() - 10);
  std::string hugeCount = appleMakerNote(id);
  hugeCount[14 + 2 + 12 + 4] = '\x7f';  // the identifier's count
  std::string manyEntries = appleMakerNote(id);
  manyEntries[14] = '\xff';  // 65,000 entries in 80 bytes
  std::string notText = appleMakerNote(id);
  notText[notText.size() - 5] = '\x01';
  const std::pair<std::string, std::string> cases[] = {
      {appleMakerNote(id), id},
      {appleMakerNote(id, false), id},
      {appleMakerNote("AB"), "AB"},  // short enough to sit in the entry
      {appleMakerNote(""), ""},
      {pastEnd, ""},
      {hugeCount, ""},
      {manyEntries, id},  // the entry is found before the count runs out of bytes
      {notText, ""},
      {"Nikon\0\x02\x10\0\0MM\0*", ""},
      {std::string("Apple iOS\0", 10), ""},
      {"", ""},
  };
  for (const auto& [note, expected] : cases) EXPECT_EQ(media::appleContentIdentifier(note), expected) << note.size();
}

struct Written {
  const char* what;
  const char* format;
  std::vector<std::string> exiftool;
  std::optional<std::int64_t> date;
  bool rejected = false;
};

// Dates and ratings as ExifTool writes them, in every format exiv2 reads.
TEST(ProbedMetadata, DatesOffsetsAndRatingsAsExifToolWritesThem) {
  if (!haveExiftool()) GTEST_SKIP() << "no exiftool";
  const ScopedTimeZone zone("TST+03");  // local 04:30 is 07:30 UTC
  const std::string original = "-DateTimeOriginal=2021:07:14 09:30:00", offset = "-OffsetTimeOriginal=+02:00";
  const std::vector<Written> cases{
      {"TIFF scan", "tiff", {original, offset}, kInstant},
      {"PNG", "png", {"-DateTimeOriginal=2021:07:14 04:30:00"}, kInstant},
      {"WebP", "webp", {original, offset}, kInstant},
      {"HEIC", "heic", {original, offset}, kInstant},
      {"JPEG, original first", "jpeg",
       {original, offset, "-CreateDate=2019:01:01 00:00:00", "-ModifyDate=2018:01:01 00:00:00"},
       kInstant},
      {"digitized with its offset", "jpeg",
       {"-CreateDate=2021:07:14 03:30:00", "-OffsetTimeDigitized=-04:00", "-ModifyDate=2018:01:01 00:00:00"},
       kInstant},
      {"IFD0 with OffsetTime", "jpeg", {"-ModifyDate=2021:07:14 08:30:00", "-OffsetTime=+01:00"}, kInstant},
      {"XMP original", "jpeg", {"-XMP-exif:DateTimeOriginal=2021:07:14 09:30:00+02:00"}, kInstant},
      {"XMP create date, local", "png", {"-XMP-xmp:CreateDate=2021:07:14 04:30:00"}, kInstant},
      {"EXIF before XMP", "jpeg",
       {"-ModifyDate=2021:07:14 04:30:00", "-XMP-exif:DateTimeOriginal=2017:01:01 00:00:00Z"}, kInstant},
      {"rejected", "jpeg", {original, offset, "-XMP-xmp:Rating=-1"}, kInstant, true},
      {"rejected TIFF", "tiff", {"-XMP-xmp:Rating=-1"}, std::nullopt, true},
      {"rated", "jpeg", {"-XMP-xmp:Rating=3"}, std::nullopt, false},
      {"unrated", "jpeg", {"-XMP-xmp:Rating=0"}, std::nullopt, false},
  };
  ScratchFolder folder;
  for (const Written& c : cases) {
    const std::string path = folder.file(std::string(c.what) + "." + c.format);
    ASSERT_TRUE(writePicture(path, c.format)) << c.what;
    std::vector<std::string> arguments = c.exiftool;
    arguments.push_back(path);
    ASSERT_TRUE(runExiftool(arguments)) << c.what;
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << c.what;
    EXPECT_EQ(probe->creationDate, c.date) << c.what;
    EXPECT_EQ(probe->dateFrom, DateFrom::content) << c.what;
    EXPECT_EQ(probe->rejected, c.rejected) << c.what;
  }
}

TEST(ProbedMetadata, LivePhotoStillCarriesAppleContentIdentifier) {
  if (!haveExiftool()) GTEST_SKIP() << "no exiftool";
  ScratchFolder folder;
  const std::string id = "5F1E3D2C-AAAA-BBBB-CCCC-0123456789AB";
  for (const char* format : {"jpeg", "heic"}) {
    const std::string path = folder.file(std::string("IMG_0001.") + format);
    ASSERT_TRUE(writePicture(path, format));
    ASSERT_TRUE(writeAppleContentIdentifier(path, id)) << format;
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << format;
    EXPECT_EQ(probe->contentIdentifier, id) << format;
  }
}

TEST(ProbedMetadata, PhoneHeicSampleHasItsDate) {
  const std::string path = samplesDir() + "/heif/iphone_13_pro_max.HEIC";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample at " << path;
  const ScopedTimeZone zone("UTC0");
  const auto probe = mediaModule().probe(path);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->dateFrom, DateFrom::content);
  // DateTimeOriginal 2022:02:16 12:55:41 with the phone's own offset.
  ASSERT_TRUE(probe->creationDate);
  EXPECT_NEAR(static_cast<double>(*probe->creationDate), 1645015541.0, 14 * 3600.0);
}

std::string datedSidecar(const std::string& date, const std::string& rating = "") {
  return xmpPacket("exif:DateTimeOriginal=\"" + date + "\"" + (rating.empty() ? "" : " xmp:Rating=\"" + rating + "\""));
}

// Sidecars as darktable, digiKam and RawTherapee name them, then the name.
TEST(ProbedMetadata, SidecarThenNameWhenTheFileHasNoDate) {
  const ScopedTimeZone zone("TST+03");
  struct Case {
    const char* what;
    const char* picture;
    std::vector<std::pair<std::string, std::string>> beside;  // name, content
    std::optional<std::int64_t> date;
    DateFrom from;
    bool rejected;
  };
  const std::string dated = datedSidecar("2021-07-14T09:30:00+02:00");
  const std::vector<Case> cases{
      {"NAME.EXT.xmp", "a.jpg", {{"a.jpg.xmp", dated}}, kInstant, DateFrom::sidecar, false},
      {"NAME.xmp", "b.jpg", {{"b.xmp", dated}}, kInstant, DateFrom::sidecar, false},
      {"capitals", "c.JPG", {{"c.XMP", dated}}, kInstant, DateFrom::sidecar, false},
      {"NAME.EXT.xmp first", "d.jpg",
       {{"d.jpg.xmp", dated}, {"d.xmp", datedSidecar("2001-01-01T00:00:00Z")}}, kInstant, DateFrom::sidecar, false},
      {"local time", "e.jpg", {{"e.xmp", datedSidecar("2021-07-14T04:30:00")}}, kInstant, DateFrom::sidecar, false},
      {"rejected in the sidecar", "f.jpg", {{"f.jpg.xmp", datedSidecar("2021-07-14T07:30:00Z", "-1")}}, kInstant,
       DateFrom::sidecar, true},
      {"a sidecar that is no XMP", "IMG_20210714_043000.jpg", {{"IMG_20210714_043000.jpg.xmp", "<x>"}}, kInstant,
       DateFrom::fileName, false},
      {"the name", "IMG_20210714_043000 (2).jpg", {}, kInstant, DateFrom::fileName, false},
      {"nothing at all", "g.jpg", {{"other.xmp", dated}}, std::nullopt, DateFrom::content, false},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    ASSERT_TRUE(writePicture(folder.file(c.picture), "jpeg")) << c.what;
    for (const auto& [name, content] : c.beside) ASSERT_TRUE(writeFileBytes(folder.file(name), content));
    const auto probe = mediaModule().probe(folder.file(c.picture));
    ASSERT_TRUE(probe) << c.what;
    EXPECT_EQ(probe->creationDate, c.date) << c.what;
    EXPECT_EQ(probe->dateFrom, c.from) << c.what;
    EXPECT_EQ(probe->rejected, c.rejected) << c.what;
  }
}

TEST(ProbedMetadata, TheFilesOwnDateBeatsItsSidecarButNotItsRejection) {
  ScratchFolder folder;
  const std::string path = folder.file("IMG_20000101_120000.jpg");
  ASSERT_TRUE(writePicture(path, "jpeg", {.dateTimeOriginal = "2021:07:14 09:30:00", .offsetTimeOriginal = "+02:00"}));
  ASSERT_TRUE(writeFileBytes(path + ".xmp", datedSidecar("2001-01-01T00:00:00Z", "-1")));
  const auto probe = mediaModule().probe(path);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->creationDate, kInstant);
  EXPECT_EQ(probe->dateFrom, DateFrom::content);
  EXPECT_TRUE(probe->rejected);
}

TEST(ProbedMetadata, SidecarAndNameOfTheNamedPathNotOfTheOpenedOne) {
  ScratchFolder folder;
  const std::string path = folder.file("x.jpg");
  ASSERT_TRUE(writePicture(path, "jpeg"));
  ASSERT_TRUE(writeFileBytes(folder.file("held.jpg.xmp"), datedSidecar("2021-07-14T07:30:00Z", "-1")));
  const auto probe = mediaModule().probe(path, folder.file("held.jpg"));
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->creationDate, kInstant);
  EXPECT_TRUE(probe->rejected);
  // A sidecar that is a link is never followed.
  std::filesystem::create_symlink(folder.file("held.jpg.xmp"), folder.file("linked.jpg.xmp"));
  const auto linked = mediaModule().probe(path, folder.file("linked.jpg"));
  ASSERT_TRUE(linked);
  EXPECT_FALSE(linked->creationDate);
  EXPECT_FALSE(linked->rejected);
}

TEST(ProbedVideos, AviLocalTimeDvAcceptedNamesDated) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  const ScopedTimeZone zone("TST+03");
  ScratchFolder folder;
  ASSERT_TRUE(writeVideo(folder.file("camera.avi"), {.container = "avi", .creationTime = "2021-07-14 04:30:00"}));
  ASSERT_TRUE(writeVideo(folder.file("phone.mp4"), {.creationTime = "2021-07-14T07:30:00Z"}));
  ASSERT_TRUE(writeVideo(folder.file("VID_20210714_043000.mp4")));
  ASSERT_TRUE(writeDvClip(folder.file("tape.dv")));
  const struct {
    const char* name;
    const char* type;
    std::optional<std::int64_t> date;
    DateFrom from;
  } cases[] = {{"camera.avi", "public.avi", kInstant, DateFrom::content},
               {"phone.mp4", "public.mpeg-4", kInstant, DateFrom::content},  // UTC stays UTC
               {"VID_20210714_043000.mp4", "public.mpeg-4", kInstant, DateFrom::fileName},
               {"tape.dv", "public.dv-movie", std::nullopt, DateFrom::content}};
  for (const auto& c : cases) {
    const auto probe = mediaModule().probe(folder.file(c.name));
    ASSERT_TRUE(probe) << c.name;
    EXPECT_EQ(probe->mediaType, MediaType::video) << c.name;
    EXPECT_EQ(probe->uniformTypeIdentifier, c.type) << c.name;
    EXPECT_EQ(probe->creationDate, c.date) << c.name;
    EXPECT_EQ(probe->dateFrom, c.from) << c.name;
  }
}

// The fuzz target's exiv2 seeds: a TIFF whose IFDs loop, a count of two
// thousand million, a JPEG cut inside its EXIF segment, a decodable JPEG
// with looping EXIF, an Apple maker note pointing past its end. Each is
// read (by the metadata reader alone and by the probe) without a crash, a
// hang (the test's time-out) or anything on standard error.
TEST(HostileMetadata, FuzzSeedsAreReadAsNoMetadata) {
  const std::filesystem::path seeds = std::string(TOLVEK_SOURCE_DIR) + "/tests/fuzz/seeds/media_decode_fuzz";
  std::size_t read = 0;
  ::testing::internal::CaptureStderr();
  for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
    if (!entry.path().filename().string().starts_with("exiv2_")) continue;
    ++read;
    auto file = ReadableFile::open(entry.path().string());
    ASSERT_TRUE(file) << entry.path();
    const auto metadata = media::readPhotoMetadata(*file);
    if (metadata) {
      EXPECT_FALSE(metadata->captureDate) << entry.path();
      EXPECT_EQ(metadata->contentIdentifier, "") << entry.path();
    }
    const auto probe = mediaModule().probe(entry.path().string());
    if (probe) {
      EXPECT_FALSE(probe->creationDate) << entry.path();
    }
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(read, 5u);
}

}  // namespace
}  // namespace tolvek::testing
