// Capture dates as EXIF, XMP and containers write them.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/media/capture_date.h"
#include "support/time_zone.h"

namespace tolvek::media {
namespace {

TEST(ExifCaptureTime, OffsetsMakeInstants) {
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+02:00")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("-05:30")), 1626247800 + 2 * 3600 + 5 * 3600 + 1800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 07:30:00", std::string_view("Z")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2000:02:29 00:00:00\0", std::string_view("+00:00")), 951782400);
}

TEST(ExifCaptureTime, WithoutUsableOffsetReadsLocalTime) {
  const std::int64_t expected = testing::localInstant(2021, 7, 14, 9, 30);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::nullopt), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("   ")), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+99:00")), expected);
}

TEST(ExifCaptureTime, RejectsWhatIsNoDate) {
  for (const char* text : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2021-07-14 09:30:00", "2021:13:01 00:00:00",
                           "2021:07:14 25:00:00", "2021:07:14", "abcd:ef:gh ij:kl:mn"}) {
    EXPECT_FALSE(exifCaptureTime(text, std::nullopt)) << text;
  }
}

TEST(IsoCaptureTime, ContainerAndXmpForms) {
  const testing::ScopedTimeZone zone("TST+03");  // local 02:06:07 is 05:06:07 UTC
  constexpr std::int64_t t = 1614834367;          // 2021-03-04T05:06:07Z
  struct Case {
    const char* text;
    Zoneless zoneless;
    std::optional<std::int64_t> expected;
  };
  const Case cases[] = {
      {"2021-03-04T05:06:07.000000Z", Zoneless::utc, t}, {"2021-03-04T05:06:07Z", Zoneless::utc, t},
      {"2021-03-04T06:06:07+0100", Zoneless::utc, t},    {"2021-03-04T00:06:07-05:00", Zoneless::utc, t},
      {"2021-03-04 05:06:07", Zoneless::utc, t},         {"1969-12-31T23:59:59Z", Zoneless::utc, -1},
      {"2021-03-04T02:06:07", Zoneless::local, t},       {"2021-03-04T02:06", Zoneless::local, t - 7},
      {"2021-03-04T06:06+01:00", Zoneless::local, t - 7}, {"2021-03-04T05:06:07.25Z", Zoneless::local, t},
      {"2021-03-04T05:06Z", Zoneless::utc, t - 7},       {"2021-03-04T05:06", Zoneless::utc, t - 7},
  };
  for (const Case& c : cases) EXPECT_EQ(isoCaptureTime(c.text, c.zoneless), c.expected) << c.text;
  for (const char* text : {"", "yesterday", "2021-03-04", "2021-03-04T05:06:07 garbage", "2021:03:04 05:06:07",
                           "2021-03-04T05:06:7", "2021-03-04T05:06.5", "2021-03-04T05:0612", "0000-00-00T00:00:00",
                           "2021-03-04T05:06:07.25.5", "2021-03-04T05:6"}) {
    EXPECT_FALSE(isoCaptureTime(text, Zoneless::local)) << text;
  }
}

TEST(XmpCaptureTime, AttributesAndElementsWithinBounds) {
  const testing::ScopedTimeZone zone("TST+03");
  constexpr std::int64_t t = 1614834367;  // 2021-03-04T05:06:07Z
  const std::string element = "<exif:DateTimeOriginal>2021-03-04T05:06:07Z</exif:DateTimeOriginal>";
  const std::string unterminated = "<exif:DateTimeOriginal>2021-03-04T05:06:07Z";
  std::string huge;
  while (huge.size() < (1u << 20)) huge += unterminated + std::string("\0 exif:DateTimeOriginal=\"", 25);
  const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
      {"<rdf:Description exif:DateTimeOriginal=\"2021-03-04T06:06:07+01:00\"/>", t},
      {"<rdf:Description\n exif:DateTimeOriginal = '2021-03-04T05:06:07Z'/>", t},
      {element, t},
      {"<exif:DateTimeOriginal> 2021-03-04T02:06:07 </exif:DateTimeOriginal>", t},  // local time
      {"<exif:DateTimeOriginal>soon</exif:DateTimeOriginal>" + element, t},
      {huge + element, t},
      {"<exif:DateTimeOriginalX>2021-03-04T05:06:07Z</exif:DateTimeOriginalX>", std::nullopt},
      {"<x myexif:DateTimeOriginal=\"2021-03-04T05:06:07Z\"/>", std::nullopt},
      {"<x exif:DateTimeOriginal=\"0000-00-00T00:00:00\"/>", std::nullopt},
      {"<x exif:DateTimeOriginal=\"2021-03-04T05:06:07Z", std::nullopt},
      {unterminated, std::nullopt},
      {"<exif:DateTimeOriginal>" + std::string(200, ' ') + "2021-03-04T05:06:07Z</exif:DateTimeOriginal>",
       std::nullopt},
      {"<exif:DateTimeOriginal", std::nullopt},
      {"exif:DateTimeOriginal", std::nullopt},
      {"", std::nullopt},
      {huge, std::nullopt},
  };
  for (const auto& [packet, expected] : cases) {
    EXPECT_EQ(xmpCaptureTime(packet, "exif:DateTimeOriginal"), expected) << packet.substr(0, 80);
  }
}

}  // namespace
}  // namespace tolvek::media
