// The progress line's text: the bar and the count always; once a second has
// passed the throughput in files and (for a sync, which knows the sizes)
// megabytes a second, and the time left; the file's name last, cut in the
// middle between characters so that the line fits the terminal's columns and
// the file name with its extension stays in view.
#include <gtest/gtest.h>

#include <string>

#include "progress_line.h"

namespace tolvek::tool {
namespace {

TEST(ProgressLine, CountThroughputAndTimeLeft) {
  const struct {
    ProgressState state;
    const char* line;
  } cases[] = {
      {{0, 0, 0, 5, "a.jpg"}, ""},
      {{0, 8, 0, 0, "a.jpg"}, "[........................] 0/8  a.jpg"},
      // Under a second: no rate yet.
      {{2, 8, 9'000'000, 0.5, "a.jpg"}, "[######..................] 2/8  a.jpg"},
      {{4, 8, 0, 2, "b.jpg"}, "[############............] 4/8  2.0 files/s  0:02 left  b.jpg"},
      {{4, 8, 18'000'000, 2, "b.jpg"}, "[############............] 4/8  2.0 files/s  9.0 MB/s  0:02 left  b.jpg"},
      {{500, 2000, 2'125'000'000, 25, "c.jpg"},
       "[######..................] 500/2000  20.0 files/s  85.0 MB/s  1:15 left  c.jpg"},
      {{10, 100000, 40'000'000, 10, ""}, "[........................] 10/100000  1.0 files/s  4.0 MB/s  27:46:30 left"},
      // More done than the total told when it started: nothing left.
      {{9, 8, 0, 3, "d"}, "[########################] 9/8  3.0 files/s  0:00 left  d"},
  };
  for (const auto& c : cases) EXPECT_EQ(progressLine(c.state, 200), c.line) << c.line;
}

TEST(ProgressLine, NameCutInTheMiddleToTheColumns) {
  const ProgressState base{4, 8, 18'000'000, 2, ""};
  const std::string head = progressLine(base, 200);  // the line without a name
  const std::string trip = "/home/ann/Pictures/Trips/2023/Iceland/IMG_1011.JPG";
  const struct {
    std::string name;
    std::size_t room;  // columns for the name after the two spaces
    std::string shown;
  } cases[] = {
      {"/photos/2024/holiday.jpg", 24, "/photos/2024/holiday.jpg"},
      // The file name and the folders above it that fit in two thirds of
      // the room; the start of the path in the rest.
      {trip, 35, "/home/ann/Pic…/Iceland/IMG_1011.JPG"},
      {trip, 49, "/home/ann/Pictur…/Trips/2023/Iceland/IMG_1011.JPG"},
      {trip, 20, "/home/…/IMG_1011.JPG"},
      {trip, 14, "…/IMG_1011.JPG"},
      // Even the file name does not fit: its middle goes, its extension stays.
      {"/photos/IMG_20230611_1011.JPG", 17, "IMG_2023…1011.JPG"},
      {trip, 13, "…IMG_1011.JPG"},
      {trip, 12, "IMG_1011.JPG"},
      {trip, 11, "IMG_1…1.JPG"},
      {"IMG_20230611_1011.JPG", 9, "IMG_….JPG"},
      {"abcdefghijklmnop", 7, "abc…nop"},
      {"a.verylongextension", 6, "…nsion"},
      {trip, 1, "…"},
      // Characters, never bytes: "é" is two bytes and one column.
      {"/été-2024/x.jpg", 15, "/été-2024/x.jpg"},
      {"/été-2024/x.jpg", 10, "/ét…/x.jpg"},
      // Wide characters take two columns; one that does not fit is left out.
      {"/写真/旅行/東京/IMG_1.JPG", 20, "/写真/旅…/IMG_1.JPG"},
      {"写真写真写真写真.jpg", 11, "写真写….jpg"},
      {"写真写真写真写真.jpg", 12, "写真写….jpg"},
      {"写真写真写真写真.jpg", 13, "写真写…真.jpg"},
      // A byte that starts no UTF-8 sequence is one column, kept whole.
      {"/\xff\xff\xff\xff/x.jpg", 9, "/\xff…/x.jpg"},
  };
  for (const auto& c : cases) {
    ProgressState state = base;
    state.name = c.name;
    EXPECT_EQ(progressLine(state, head.size() + 2 + c.room), head + "  " + c.shown) << c.name << " in " << c.room;
  }
  // Too narrow for any name: the line is cut to the width.
  ProgressState state = base;
  state.name = "x.jpg";
  EXPECT_EQ(progressLine(state, 20), head.substr(0, 20));
  EXPECT_EQ(progressLine(state, head.size() + 2), head);
}

}  // namespace
}  // namespace tolvek::tool
