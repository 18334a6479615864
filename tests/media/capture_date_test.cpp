// Capture dates as EXIF, XMP and containers write them, and calendar checks.
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

TEST(CalendarTime, OnlyDaysTheMonthHasAndTimesOfADay) {
  const std::pair<CivilTime, bool> cases[] = {
      {{2024, 2, 29, 12, 0, 0}, true},   {{2023, 2, 29, 12, 0, 0}, false}, {{2000, 2, 29, 0, 0, 0}, true},
      {{1900, 2, 29, 0, 0, 0}, false},   {{2023, 4, 31, 0, 0, 0}, false},  {{2023, 12, 31, 23, 59, 60}, true},
      {{2023, 13, 1, 0, 0, 0}, false},   {{2023, 0, 1, 0, 0, 0}, false},   {{2023, 1, 0, 0, 0, 0}, false},
      {{2023, 1, 1, 24, 0, 0}, false},   {{2023, 1, 1, 0, 60, 0}, false},
  };
  for (const auto& [time, valid] : cases) {
    EXPECT_EQ(isCalendarTime(time), valid) << time.year << "-" << time.month << "-" << time.day << " " << time.hour;
  }
  EXPECT_FALSE(exifCaptureTime("2023:02:29 12:00:00", std::nullopt));
}

}  // namespace
}  // namespace tolvek::media
