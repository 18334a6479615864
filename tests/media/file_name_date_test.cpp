// Dates in file names: every row of the table reads its own example, and
// digit runs that are no date and time give nothing.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/media/capture_date.h"
#include "platform/media/file_name_date.h"
#include "support/time_zone.h"

namespace tolvek::media {
namespace {

TEST(FileNameDates, EveryRowReadsItsOwnExample) {
  ASSERT_GE(fileNamePatterns().size(), 10u);
  for (const NamePattern& row : fileNamePatterns()) EXPECT_TRUE(fileNameDate(row.example)) << row.example;
}

TEST(FileNameDates, LocalTimeAndNoonForADateAlone) {
  const testing::ScopedTimeZone zone("TST+03");
  struct Case {
    const char* name;
    std::optional<CivilTime> expected;
  };
  const Case cases[] = {
      {"IMG_20230704_174510.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"IMG_20230704_174510_1.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"PXL_20230704_174510789.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"PXL_20230704_174510789.MP.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"VID_20230704_174510.mp4", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"Screenshot from 2024-01-15 10-22-33.png", CivilTime{2024, 1, 15, 10, 22, 33}},
      {"Screenshot_2024-01-15-10-22-33.png", CivilTime{2024, 1, 15, 10, 22, 33}},
      {"Screenshot_20240115-102233.png", CivilTime{2024, 1, 15, 10, 22, 33}},
      {"Screenshot 2024-01-15 at 10.22.33.png", CivilTime{2024, 1, 15, 10, 22, 33}},
      {"Screen Shot 2024-01-15 at 10.22.33 PM.png", CivilTime{2024, 1, 15, 22, 22, 33}},
      {"Screen Shot 2024-01-15 at 12.22.33 AM.png", CivilTime{2024, 1, 15, 0, 22, 33}},
      {"Screenshot 2024-01-15 at 12.22.33\u202fPM.png", CivilTime{2024, 1, 15, 12, 22, 33}},
      {"IMG-20230812-WA0007.jpg", CivilTime{2023, 8, 12, 12, 0, 0}},  // a date alone: noon
      {"VID-20230812-WA0003.mp4", CivilTime{2023, 8, 12, 12, 0, 0}},
      {"signal-2023-08-12-104512.jpg", CivilTime{2023, 8, 12, 10, 45, 12}},
      {"20230704_174510.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"2023-07-04 17.45.10.jpg", CivilTime{2023, 7, 4, 17, 45, 10}},
      {"2024-02-29 00.00.00.jpg", CivilTime{2024, 2, 29, 0, 0, 0}},
      // Digit runs that are no date and time.
      {"IMG_20231304_174510.jpg", std::nullopt},  // month 13
      {"IMG_20230230_120000.jpg", std::nullopt},  // February 30th
      {"2023-02-29 12.00.00.jpg", std::nullopt},  // not a leap year
      {"IMG_20230704_244510.jpg", std::nullopt},  // hour 24
      {"IMG_20230704_176010.jpg", std::nullopt},  // minute 60
      {"IMG_20230704_174560.jpg", std::nullopt},  // second 60
      {"IMG_19690704_174510.jpg", std::nullopt},  // before 1970
      {"21010704_174510.jpg", std::nullopt},      // after 2100
      {"IMG-20230012-WA0007.jpg", std::nullopt},
      // Names of no row.
      {"IMG_0001.JPG", std::nullopt},
      {"IMG_2023070_174510.jpg", std::nullopt},
      {"img_20230704_174510.jpg", std::nullopt},
      {"DSC_20230704_174510.jpg", std::nullopt},
      {"Screenshot from 2024-01-15.png", std::nullopt},
      {"x20230704_174510.jpg", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto date = fileNameDate(c.name);
    if (!c.expected) {
      EXPECT_FALSE(date) << c.name;
      continue;
    }
    EXPECT_EQ(date, asLocal(*c.expected)) << c.name;
  }
  // Local time, three hours west of UTC here.
  EXPECT_EQ(fileNameDate("IMG_20230704_174510.jpg"), 1688503510);  // 2023-07-04T20:45:10Z
  EXPECT_EQ(fileNameDate("IMG-20230812-WA0007.jpg"), 1691852400);  // 2023-08-12T15:00:00Z
}

}  // namespace
}  // namespace tolvek::media
