// Probing files by content: kind, type identifier and capture date, and
// capture dates as EXIF and containers write them.
#include <gtest/gtest.h>

#include <filesystem>

#include "media_test_module.h"
#include "platform/media/capture_date.h"
#include "platform/media/content_kind.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

using media::exifCaptureTime;
using media::isoCaptureTime;

std::string ftyp(std::string_view major, std::initializer_list<std::string_view> compatible) {
  std::string box;
  const auto size = static_cast<unsigned char>(16 + 4 * compatible.size());
  box += std::string("\0\0\0", 3) + static_cast<char>(size) + "ftyp" + std::string(major) + std::string(4, '\0');
  for (auto brand : compatible) box += brand;
  return box + std::string(64, '\0');
}

TEST(ContentSniffing, TellsHeicHeifAndAvifApartByBrand) {
  using media::sniffContent;
  EXPECT_EQ(sniffContent(ftyp("heic", {"mif1", "heic"})).typeIdentifier, "public.heic");
  EXPECT_EQ(sniffContent(ftyp("mif1", {"mif1", "heic"})).typeIdentifier, "public.heic");
  EXPECT_EQ(sniffContent(ftyp("mif1", {"mif1", "miaf"})).typeIdentifier, "public.heif");
  EXPECT_EQ(sniffContent(ftyp("avif", {"mif1", "miaf"})).typeIdentifier, "public.avif");
  EXPECT_EQ(sniffContent(ftyp("mif1", {"avif"})).typeIdentifier, "public.avif");
  EXPECT_EQ(sniffContent(ftyp("mif1", {})).kind, media::Sniffed::picture);
}

TEST(ContentSniffing, TellsMovieContainersApartByBrand) {
  using media::sniffContent;
  EXPECT_EQ(sniffContent(ftyp("qt  ", {"qt  "})).typeIdentifier, "com.apple.quicktime-movie");
  EXPECT_EQ(sniffContent(ftyp("M4V ", {"M4V ", "mp42"})).typeIdentifier, "com.apple.m4v-video");
  EXPECT_EQ(sniffContent(ftyp("M4A ", {"isom"})).typeIdentifier, "com.apple.m4a-audio");
  EXPECT_EQ(sniffContent(ftyp("isom", {"isom", "avc1"})).typeIdentifier, "public.mpeg-4");
  EXPECT_EQ(sniffContent(ftyp("isom", {})).kind, media::Sniffed::isoMedia);
  // A brand list longer than the bytes read is not read past the end.
  std::string cut = ftyp("mif1", {"heic"}).substr(0, 18);
  cut[3] = static_cast<char>(200);
  EXPECT_EQ(sniffContent(cut).kind, media::Sniffed::picture);
  EXPECT_EQ(sniffContent("").kind, media::Sniffed::unknown);
}

struct PictureCase {
  const char* format;
  const char* typeIdentifier;
};

class ProbedPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(ProbedPictures, KnownByContentEvenUnderAWrongName) {
  ScratchFolder folder;
  // A misleading name: probing must look at the bytes only.
  const std::string path = folder.file("picture.mp3");
  if (!writePicture(path, GetParam().format)) GTEST_SKIP() << "cannot write " << GetParam().format;
  const auto probe = mediaModule().probe(path);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->mediaType, MediaType::image);
  EXPECT_EQ(probe->uniformTypeIdentifier, GetParam().typeIdentifier);
  EXPECT_FALSE(probe->creationDate);
}

INSTANTIATE_TEST_SUITE_P(Formats, ProbedPictures,
                         ::testing::Values(PictureCase{"jpeg", "public.jpeg"}, PictureCase{"png", "public.png"},
                                           PictureCase{"heic", "public.heic"}, PictureCase{"avif", "public.avif"},
                                           PictureCase{"tiff", "public.tiff"},
                                           PictureCase{"webp", "org.webmproject.webp"},
                                           PictureCase{"gif", "com.compuserve.gif"}));

// With an offset the EXIF date is an instant; without one, local time.
TEST(ProbedDates, ExifDatesWithAndWithoutOffset) {
  ScratchFolder folder;
  const struct {
    const char* name;
    const char* format;
    std::optional<std::string> offset;
    std::int64_t instant;
  } cases[] = {{"a.jpg", "jpeg", "+02:00", 1626247800},  // 2021-07-14T07:30:00Z
               {"a.heic", "heic", std::nullopt, localInstant(2021, 7, 14, 9, 30)}};
  for (const auto& c : cases) {
    ASSERT_TRUE(writePicture(folder.file(c.name), c.format,
                             {.dateTimeOriginal = "2021:07:14 09:30:00", .offsetTimeOriginal = c.offset}));
    const auto probe = mediaModule().probe(folder.file(c.name));
    ASSERT_TRUE(probe) << c.name;
    EXPECT_EQ(probe->creationDate, c.instant) << c.name;
  }
}

TEST(ProbedVideos, ContainersStreamsAndCreationTime) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ScratchFolder folder;
  struct Case {
    VideoFixture video;
    const char* typeIdentifier;
  };
  const std::vector<Case> cases{
      {VideoFixture{.container = "mp4", .creationTime = "2021-03-04T05:06:07Z"}, "public.mpeg-4"},
      {VideoFixture{.container = "mov", .withAudio = true}, "com.apple.quicktime-movie"},
      {VideoFixture{.container = "m4v"}, "com.apple.m4v-video"},
      {VideoFixture{.container = "mkv"}, "org.matroska.mkv"},
  };
  int n = 0;
  for (const auto& c : cases) {
    // Named like a picture: the content decides.
    const std::string path = folder.file("clip" + std::to_string(n++) + ".jpg");
    ASSERT_TRUE(writeVideo(path, c.video)) << c.typeIdentifier;
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << c.typeIdentifier;
    EXPECT_EQ(probe->mediaType, MediaType::video) << c.typeIdentifier;
    EXPECT_EQ(probe->uniformTypeIdentifier, c.typeIdentifier);
    if (c.video.creationTime) {
      EXPECT_EQ(probe->creationDate, 1614834367);
    } else {
      EXPECT_FALSE(probe->creationDate) << c.typeIdentifier;
    }
  }
}

TEST(ProbedAudio, M4aMp3AndWav) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ScratchFolder folder;
  const std::vector<std::pair<std::string, std::string>> cases{
      {"m4a", "com.apple.m4a-audio"}, {"mp3", "public.mp3"}, {"wav", "com.microsoft.waveform-audio"}};
  for (const auto& [format, typeIdentifier] : cases) {
    const std::string path = folder.file("sound." + format + ".mov");
    ASSERT_TRUE(writeAudio(path, format, std::string("2020-01-02T03:04:05Z"))) << format;
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << format;
    EXPECT_EQ(probe->mediaType, MediaType::audio) << format;
    EXPECT_EQ(probe->uniformTypeIdentifier, typeIdentifier);
    if (format != "wav") {
      EXPECT_EQ(probe->creationDate, 1577934245) << format;
    }
  }
}

TEST(ProbedJunk, GivesNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("empty.jpg"), ""));
  ASSERT_TRUE(writeFileBytes(folder.file("text.mp4"), "hello, this is a text file and not a movie\n"));
  ASSERT_TRUE(writeFileBytes(folder.file("zeros.mov"), std::string(100000, '\0')));
  ASSERT_TRUE(writePngHeaderOnly(folder.file("huge.png"), 100000, 100000));
  ASSERT_TRUE(writeFileBytes(folder.file("playlist.m3u8"), "#EXTM3U\n#EXTINF:1,\n/etc/passwd\n"));
  for (const char* name : {"empty.jpg", "text.mp4", "zeros.mov", "huge.png", "playlist.m3u8", "missing.jpg"}) {
    EXPECT_FALSE(mediaModule().probe(folder.file(name))) << name;
  }
  EXPECT_FALSE(mediaModule().probe(folder.path())) << "a folder";
}

TEST(ProbedSamples, RealFilesHaveTheirTypesAndDates) {
  const std::string root = samplesDir();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no samples at " << root;
  const auto heic = mediaModule().probe(root + "/heif/iphone_13_pro_max.HEIC");
  ASSERT_TRUE(heic);
  EXPECT_EQ(heic->uniformTypeIdentifier, "public.heic");
  // DateTimeOriginal 2022:02:16 12:55:41 with the phone's own offset, or local time without one.
  ASSERT_TRUE(heic->creationDate);
  EXPECT_NEAR(static_cast<double>(*heic->creationDate), 1645015541.0, 14 * 3600.0);
  int jpegs = 0, dated = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root + "/jpeg")) {
    const auto probe = mediaModule().probe(entry.path().string());
    ASSERT_TRUE(probe) << entry.path();
    EXPECT_EQ(probe->uniformTypeIdentifier, "public.jpeg");
    ++jpegs;
    if (probe->creationDate) {
      ++dated;
      EXPECT_GT(*probe->creationDate, 631152000) << entry.path();  // after 1990
    }
  }
  EXPECT_EQ(jpegs, 21);
  EXPECT_GE(dated, 10);
}

TEST(ExifCaptureTime, OffsetsMakeInstants) {
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+02:00")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("-05:30")),
            1626247800 + 2 * 3600 + 5 * 3600 + 1800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 07:30:00", std::string_view("Z")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2000:02:29 00:00:00\0", std::string_view("+00:00")), 951782400);
}

TEST(ExifCaptureTime, WithoutUsableOffsetReadsLocalTime) {
  const std::int64_t expected = localInstant(2021, 7, 14, 9, 30);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::nullopt), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("   ")), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+99:00")), expected);
}

TEST(ExifCaptureTime, RejectsWhatIsNoDate) {
  for (const char* text : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2021-07-14 09:30:00",
                           "2021:13:01 00:00:00", "2021:07:14 25:00:00", "2021:07:14", "abcd:ef:gh ij:kl:mn"}) {
    EXPECT_FALSE(exifCaptureTime(text, std::nullopt)) << text;
  }
}

TEST(IsoCaptureTime, ContainerForms) {
  EXPECT_EQ(isoCaptureTime("2021-03-04T05:06:07.000000Z"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T05:06:07Z"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T06:06:07+0100"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T00:06:07-05:00"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04 05:06:07"), 1614834367);
  EXPECT_EQ(isoCaptureTime("1969-12-31T23:59:59Z"), -1);
  for (const char* text : {"", "yesterday", "2021-03-04", "2021-03-04T05:06:07 garbage", "2021:03:04 05:06:07"}) {
    EXPECT_FALSE(isoCaptureTime(text)) << text;
  }
}

}  // namespace
}  // namespace tolvek::testing
