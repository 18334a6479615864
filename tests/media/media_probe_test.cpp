// Probing files by content: kind, type identifier and capture date, and
// pictures refused when no pixel data decodes.
// Decoding picture bytes:
// formats, orientation, the pixel limit, damaged data and JPEG encoding with
// and without the capture metadata.
#include <gtest/gtest.h>
#include <vips/vips.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/media_formats.h"
#include "media_test_module.h"
#include "platform/media/content_kind.h"
#include "platform/media/vips_picture.h"
#include "support/media_fixtures.h"
#include "support/time_zone.h"

namespace tolvek::testing {
namespace {

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

TEST(ProbedDates, FirstPlausibleSourceWins) {
  const ScopedTimeZone zone("TST+03");    // local 04:30 is 07:30 UTC
  constexpr std::int64_t t = 1626247800;  // 2021-07-14T07:30:00Z
  const std::string original = "exif-ifd2-DateTimeOriginal", originalOffset = "exif-ifd2-OffsetTimeOriginal";
  const std::string digitized = "exif-ifd2-DateTimeDigitized", digitizedOffset = "exif-ifd2-OffsetTimeDigitized";
  const std::string written = "exif-ifd0-DateTime", writtenOffset = "exif-ifd2-OffsetTime";
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> exif;
    std::optional<std::string> xmp;
    std::optional<std::int64_t> expected;
  };
  const std::vector<Case> cases{
      {"original with its offset",
       {{original, "2021:07:14 09:30:00"}, {originalOffset, "+02:00"}, {digitized, "2019:01:01 00:00:00"},
        {written, "2018:01:01 00:00:00"}},
       "<exif:DateTimeOriginal>2017-01-01T00:00:00Z</exif:DateTimeOriginal>", t},
      {"unset original: digitized",
       {{original, "0000:00:00 00:00:00"}, {originalOffset, "+02:00"}, {digitized, "2021:07:14 03:30:00"},
        {digitizedOffset, "-04:00"}, {written, "2018:01:01 00:00:00"}},
       std::nullopt, t},
      {"garbled digitized: file written",
       {{digitized, "sometime"}, {digitizedOffset, "+02:00"}, {written, "2021:07:14 08:30:00"},
        {writtenOffset, "+01:00"}},
       std::nullopt, t},
      {"another date's offset is not taken", {{originalOffset, "+02:00"}, {written, "2021:07:14 04:30:00"}},
       std::nullopt, t},
      {"XMP attribute", {{written, "0000:00:00 00:00:00"}},
       xmpPacket("exif:DateTimeOriginal=\"2021-07-14T09:30:00+02:00\" xmp:CreateDate=\"2018-01-01T00:00Z\""), t},
      {"XMP element", {}, xmpPacket("", "<exif:DateTimeOriginal>2021-07-14T07:30:00Z</exif:DateTimeOriginal>"), t},
      {"XMP create date, local, no seconds", {},
       xmpPacket("exif:DateTimeOriginal=\"soon\"", "<xmp:CreateDate>2021-07-14T04:30</xmp:CreateDate>"), t},
      {"nothing plausible",
       {{original, ""}, {digitized, "0000:00:00 00:00:00"}, {written, "    :  :     :  :  "}},
       xmpPacket("xmp:CreateDate=\"yesterday\""), std::nullopt},
      {"XMP that does not parse", {}, "<x exif:DateTimeOriginal=\"2021-07-14T07:30:00Z\"/>", std::nullopt},
      {"no metadata", {}, std::nullopt, std::nullopt},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    const std::string path = folder.file(std::string(c.what) + ".jpg");
    ASSERT_TRUE(writePicture(path, "jpeg", {.exifStrings = c.exif, .xmp = c.xmp})) << c.what;
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << c.what;
    EXPECT_EQ(probe->creationDate, c.expected) << c.what;
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

// What pairs a Live Photo's movie with its still: its content identifier
// and its length, read from the container.
TEST(ProbedVideos, ContentIdentifierAndDuration) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ScratchFolder folder;
  struct Case {
    VideoFixture video;
    std::string contentIdentifier;
  };
  const std::vector<Case> cases{
      {VideoFixture{.seconds = 2.0, .container = "mov", .contentIdentifier = "5A1F2C3D-0001"}, "5A1F2C3D-0001"},
      {VideoFixture{.seconds = 7.0, .container = "mov"}, ""},
      {VideoFixture{.seconds = 1.5, .container = "mp4"}, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = folder.file("live" + std::to_string(n++) + ".mov");
    ASSERT_TRUE(writeVideo(path, c.video));
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe) << path;
    EXPECT_EQ(probe->contentIdentifier, c.contentIdentifier) << path;
    ASSERT_TRUE(probe->durationSeconds) << path;
    EXPECT_NEAR(*probe->durationSeconds, c.video.seconds, 0.25) << path;
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

// Files no sniffer recognises are named by FFmpeg's demuxer and their
// streams, from the format table's rows.
TEST(DemuxedTypes, TheRowDeclaringTheDemuxerForTheStreamsNamesTheFile) {
  const struct {
    std::string_view demuxer;
    MediaType as;
    std::string_view typeIdentifier;
  } cases[] = {{"mov,mp4,m4a,3gp,3g2,mj2", MediaType::video, "com.apple.quicktime-movie"},
               {"mov,mp4,m4a,3gp,3g2,mj2", MediaType::audio, "com.apple.m4a-audio"},
               {"matroska,webm", MediaType::video, "org.matroska.mkv"},
               {"matroska,webm", MediaType::audio, "public.audio"},
               {"avi", MediaType::video, "public.avi"},
               {"mpegts", MediaType::video, "public.mpeg-2-transport-stream"},
               {"mpegtsraw", MediaType::video, "public.movie"},
               {"mpeg", MediaType::video, "public.mpeg"},
               {"asf", MediaType::video, "com.microsoft.windows-media-wmv"},
               {"flv", MediaType::video, "com.adobe.flash.video"},
               {"live_flv", MediaType::video, "public.movie"},
               {"mp3", MediaType::audio, "public.mp3"},
               {"mp3", MediaType::video, "public.movie"},
               {"wav", MediaType::audio, "com.microsoft.waveform-audio"},
               {"w64", MediaType::audio, "com.microsoft.waveform-audio"},
               {"aac", MediaType::audio, "public.aac-audio"},
               {"flac", MediaType::audio, "org.xiph.flac"},
               {"ogg", MediaType::audio, "org.xiph.ogg-audio"},
               {"aiff", MediaType::audio, "public.aiff-audio"},
               {"caf", MediaType::audio, "com.apple.coreaudio-format"},
               {"", MediaType::audio, "public.audio"},
               {",", MediaType::video, "public.movie"}};
  for (const auto& c : cases)
    EXPECT_EQ(demuxedTypeIdentifier(c.demuxer, c.as), c.typeIdentifier) << c.demuxer << " " << static_cast<int>(c.as);
  // Formats only FFmpeg names give an extensionless file's copy no extension.
  EXPECT_EQ(copyExtensionOfType("public.mp3"), ".mp3");
  EXPECT_EQ(copyExtensionOfType("org.matroska.mkv"), "");
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

// A picture whose header reads but of which no pixel decodes (its data
// missing, or none a decoder can start on) is no picture; one cut in its
// middle decodes in part and is one, as viewers show it.
TEST(ProbedDamage, PicturesWithoutPixelDataAreRefusedPartialOnesKept) {
  ScratchFolder folder;
  const struct {
    const char* name;
    const char* format;
    PictureFixture fixture;
  } sources[] = {{"baseline.jpg", "jpeg", {.width = 640, .height = 480}},
                 {"progressive.jpg", "jpeg", {.width = 640, .height = 480, .interlaced = true}},
                 {"plain.png", "png", {.width = 2000, .height = 1500}}};
  std::map<std::string, std::string> whole;
  for (const auto& source : sources) {
    ASSERT_TRUE(writePicture(folder.file(source.name), source.format, source.fixture)) << source.name;
    whole[source.name] = readFileBytes(folder.file(source.name)).value_or("");
  }
  const std::string& jpeg = whole["baseline.jpg"];
  const std::size_t scan = jpegScanDataOffset(jpeg).value_or(0);
  const std::size_t frame = jpegMarkerOffset(jpeg, 0xC0).value_or(0);
  ASSERT_TRUE(scan > 0 && frame > 0);
  const auto halfOf = [](const std::string& bytes, std::size_t from) {
    return bytes.substr(0, from + (bytes.size() - from) / 2);
  };
  // The PNG's first IDAT chunk, of its several: whole rows decode from it.
  const std::string& png = whole["plain.png"];
  const std::size_t idat = png.find("IDAT");
  ASSERT_TRUE(idat != std::string::npos && idat >= 4);
  const std::size_t firstPngDataEnd =
      idat + 8 + ((std::size_t{static_cast<unsigned char>(png[idat - 4])} << 24) |
                  (std::size_t{static_cast<unsigned char>(png[idat - 3])} << 16) |
                  (std::size_t{static_cast<unsigned char>(png[idat - 2])} << 8) | static_cast<unsigned char>(png[idat - 1]));
  ASSERT_LT(firstPngDataEnd + 100, png.size()) << "more data chunks follow";
  // The frame's first component names quantization table 3, which is not
  // there: no decoder starts on the data (the header still reads).
  std::string undefinedTable = jpeg;
  undefinedTable[frame + 12] = 3;
  const struct {
    const char* name;
    std::string bytes;
    bool picture;
  } cases[] = {
      {"whole.jpg", jpeg, true},
      {"data cut in half.jpg", halfOf(jpeg, scan), true},
      {"progressive cut in half.jpg",
       halfOf(whole["progressive.jpg"], jpegScanDataOffset(whole["progressive.jpg"]).value_or(0)), true},
      {"png cut after its first data chunk.png", whole["plain.png"].substr(0, firstPngDataEnd), true},
      {"header without data.jpg", jpeg.substr(0, scan), false},
      {"data all fill bytes.jpg", jpeg.substr(0, scan) + std::string(jpeg.size() - scan, '\xFF'), false},
      {"undefined table.jpg", undefinedTable, false},
      {"header cut.jpg", jpeg.substr(0, scan / 2), false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeFileBytes(folder.file(c.name), c.bytes));
    const auto probe = mediaModule().probe(folder.file(c.name));
    EXPECT_EQ(probe.has_value(), c.picture) << c.name;
    if (probe) {
      EXPECT_EQ(probe->mediaType, MediaType::image) << c.name;
    }
  }
  ASSERT_TRUE(writePngHeaderOnly(folder.file("png header only.png"), 640, 480));
  EXPECT_FALSE(mediaModule().probe(folder.file("png header only.png"))) << "a PNG without its pixel data";
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

std::string pictureBytes(const std::string& format, const PictureFixture& fixture = {}) {
  ScratchFolder folder;
  const std::string path = folder.file("picture." + format);
  if (!writePicture(path, format, fixture)) return {};
  return readFileBytes(path).value_or("");
}

std::unique_ptr<Picture> decode(std::string_view bytes) { return mediaModule().pictureDecoder().decode(bytes); }
std::unique_ptr<Picture> decodeFile(const std::string& path) { return decode(readFileBytes(path).value_or("")); }

class EveryPictureFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryPictureFormat, DecodesToItsSizeAndPixels) {
  const std::string bytes = pictureBytes(GetParam(), {.width = 80, .height = 60});
  if (bytes.empty()) GTEST_SKIP() << "libvips cannot write " << GetParam() << " here";
  const auto picture = decode(bytes);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->size(), (PixelSize{80, 60}));
  const std::string jpeg = jpegOf(*picture);
  ASSERT_FALSE(jpeg.empty());
  ASSERT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");
  EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red);
  EXPECT_EQ(markerColourIn(jpeg, Quadrant::bottomRight), MarkerColour::white);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryPictureFormat,
                         ::testing::Values("jpeg", "png", "heic", "avif", "tiff", "webp", "gif"));

class EveryOrientation : public ::testing::TestWithParam<int> {};

TEST_P(EveryOrientation, ComesOutUpright) {
  const int orientation = GetParam();
  const std::string bytes = pictureBytes("jpeg", {.width = 80, .height = 60, .orientation = orientation});
  ASSERT_FALSE(bytes.empty());
  const auto stored = encodedPictureSize(bytes);
  ASSERT_TRUE(stored);
  // Orientations 5 to 8 store the picture on its side.
  EXPECT_EQ(stored->width, orientation >= 5 ? 60 : 80);
  const auto picture = decode(bytes);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->size(), (PixelSize{80, 60}));
  const std::string jpeg = jpegOf(*picture);
  EXPECT_EQ(markerColoursIn(jpeg), uprightMarkerColours()) << "orientation " << orientation;
  EXPECT_EQ(encodedPictureSize(jpeg)->width, 80);
}

INSTANTIATE_TEST_SUITE_P(Tags, EveryOrientation, ::testing::Range(1, 9));

TEST(RealPictures, OrientationSamplesComeOutUpright) {
  const std::string folder = samplesDir() + "/orientation";
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no samples at " << folder;
  // Both are 450x600 as stored; 6 turns a quarter, 3 a half.
  const auto landscape = decodeFile(folder + "/landscape_6.jpg");
  ASSERT_NE(landscape, nullptr);
  EXPECT_EQ(landscape->size(), (PixelSize{600, 450}));
  EXPECT_EQ(encodedPictureSize(jpegOf(*landscape))->width, 600);
  const auto portrait = decodeFile(folder + "/portrait_3.jpg");
  ASSERT_NE(portrait, nullptr);
  EXPECT_EQ(portrait->size(), (PixelSize{450, 600}));
  // The half turn: the upright picture is the stored one rotated 180 degrees.
  const std::string stored = readFileBytes(folder + "/portrait_3.jpg").value_or("");
  const std::string upright = jpegOf(*portrait, 1.0);
  VipsImage* a = vips_image_new_from_buffer(stored.data(), stored.size(), "", nullptr);
  VipsImage* b = vips_image_new_from_buffer(upright.data(), upright.size(), "", nullptr);
  ASSERT_TRUE(a && b);
  double* p = nullptr;
  double* q = nullptr;
  int n = 0, m = 0;
  ASSERT_EQ(vips_getpoint(a, &p, &n, 40, 40, nullptr), 0);
  ASSERT_EQ(vips_getpoint(b, &q, &m, 450 - 1 - 40, 600 - 1 - 40, nullptr), 0);
  EXPECT_NEAR(p[0], q[0], 24);
  EXPECT_NEAR(p[1], q[1], 24);
  g_free(p);
  g_free(q);
  g_object_unref(a);
  g_object_unref(b);
}

TEST(RealPictures, EverySampleDecodesAndEncodes) {
  const std::string root = samplesDir();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no samples at " << root;
  int decoded = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    // Pictures only: the samples also hold databases, archives and notes.
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!entry.is_regular_file() ||
        (extension != ".jpg" && extension != ".jpeg" && extension != ".heic" && extension != ".heif"))
      continue;
    const auto bytes = readFileBytes(entry.path().string());
    const auto picture = decode(*bytes);
    ASSERT_NE(picture, nullptr) << entry.path();
    const std::string jpeg = jpegOf(*picture);
    ASSERT_FALSE(jpeg.empty()) << entry.path();
    const auto size = encodedPictureSize(jpeg);
    EXPECT_EQ(size->width, picture->size().width) << entry.path();
    EXPECT_EQ(size->height, picture->size().height) << entry.path();
    ++decoded;
  }
  EXPECT_GE(decoded, 20);
}

TEST(RealPictures, PhoneHeicIsUprightPortraitAndKeepsItsCaptureDateAsJpeg) {
  const std::string path = samplesDir() + "/heif/iphone_13_pro_max.HEIC";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample at " << path;
  const auto picture = decodeFile(path);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->size(), (PixelSize{3024, 4032}));
  const std::string jpeg = jpegOf(*picture, 0.92, JpegMetadata::keepCaptureData);
  EXPECT_EQ(pictureMetadata(jpeg, "exif-ifd2-DateTimeOriginal").value_or("").substr(0, 19), "2022:02:16 12:55:41");
  EXPECT_EQ(pictureOrientation(jpeg), 1);
}

// 17321 x 17321 is just over 300 megapixels, 17320 x 17320 just under.
// Whether the picture's pixels can be had as a JPEG; damage may show when
// the bitmap is made or only when it is encoded.
bool encodes(const Picture& picture) {
  const auto bitmap = picture.bitmap();
  return bitmap && bitmap->jpegRepresentation(0.8, JpegMetadata::none);
}

TEST(PixelLimit, OnlyHeadersUpToTheLimitAreAccepted) {
  ScratchFolder folder;
  for (const std::uint32_t side : {100000u, 17321u, 17320u}) {
    const std::string path = folder.file(std::to_string(side) + ".png");
    ASSERT_TRUE(writePngHeaderOnly(path, side, side));
    const auto picture = decodeFile(path);
    if (side > 17320) {
      EXPECT_EQ(picture, nullptr) << side;
      continue;
    }
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), (PixelSize{side, side}));
    // Its pixels are not in the file, so no JPEG is to be had.
    EXPECT_FALSE(encodes(*picture));
  }
}

TEST(DamagedData, GivesNoPictureOrNoBitmap) {
  const std::string jpeg = pictureBytes("jpeg", {.width = 400, .height = 300});
  const std::string heic = pictureBytes("heic", {.width = 400, .height = 300});
  ASSERT_FALSE(jpeg.empty());
  ASSERT_FALSE(heic.empty());
  std::string corrupt = jpeg;
  for (std::size_t i = corrupt.size() / 3; i < corrupt.size() - 2; i += 7) corrupt[i] = static_cast<char>(0xFF);
  const std::vector<std::pair<std::string, std::string>> cases{
      {"empty", ""},
      {"jpeg cut in half", jpeg.substr(0, jpeg.size() / 2)},
      {"jpeg header only", jpeg.substr(0, 200)},
      {"jpeg scrambled", corrupt},
      {"heic cut in half", heic.substr(0, heic.size() / 2)},
      {"heic first 100 bytes", heic.substr(0, 100)},
      {"text", "this is not a picture at all"},
      {"svg", "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>"},
  };
  for (const auto& [name, bytes] : cases) {
    const auto picture = decode(bytes);
    if (picture == nullptr) continue;
    EXPECT_FALSE(encodes(*picture)) << name << " gave pixels";
  }
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg for the video";
  ScratchFolder folder;
  ASSERT_TRUE(writeVideo(folder.file("clip.jpg"), {}));
  EXPECT_EQ(decodeFile(folder.file("clip.jpg")), nullptr) << "video bytes are no picture";
}

TEST(JpegEncoding, QualityFactorMapsOntoLibvipsScale) {
  EXPECT_EQ(media::jpegQuality(0.8), 80);
  EXPECT_EQ(media::jpegQuality(0.92), 92);
  EXPECT_EQ(media::jpegQuality(0.0), 1);
  EXPECT_EQ(media::jpegQuality(1.0), 100);
  EXPECT_EQ(media::jpegQuality(7.0), 100);
  EXPECT_EQ(media::jpegQuality(-1.0), 1);
  // A higher factor gives a larger file of the same picture.
  const auto picture = decode(pictureBytes("png", {.width = 256, .height = 192}));
  ASSERT_NE(picture, nullptr);
  EXPECT_LT(jpegOf(*picture, 0.2).size(), jpegOf(*picture, 0.95).size());
}

TEST(JpegEncoding, StripsEveryMetadataOrKeepsTheCaptureDataWithOrientationOne) {
  const auto picture = decode(pictureBytes("jpeg", {.width = 80,
                                                    .height = 60,
                                                    .orientation = 6,
                                                    .dateTimeOriginal = "2021:07:14 09:30:00",
                                                    .offsetTimeOriginal = "+02:00",
                                                    .withIccProfile = true,
                                                    .xmp = std::string(kSmallXmp)}));
  ASSERT_NE(picture, nullptr);
  const std::string bare = jpegOf(*picture, 0.8, JpegMetadata::none);
  const std::string jpeg = jpegOf(*picture, 0.92, JpegMetadata::keepCaptureData);
  for (const char* field : {VIPS_META_EXIF_NAME, VIPS_META_XMP_NAME, VIPS_META_ICC_NAME}) {
    EXPECT_FALSE(hasPictureMetadata(bare, field)) << field;
    EXPECT_TRUE(hasPictureMetadata(jpeg, field)) << field;
  }
  EXPECT_EQ(pictureOrientation(jpeg), 1);
  EXPECT_EQ(pictureMetadata(jpeg, "exif-ifd2-DateTimeOriginal").value_or("").substr(0, 19), "2021:07:14 09:30:00");
  // Upright pixels and a tag of 1: any viewer shows it the right way up.
  EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red);
  EXPECT_EQ(encodedPictureSize(jpeg)->width, 80);
}

}  // namespace
}  // namespace tolvek::testing
