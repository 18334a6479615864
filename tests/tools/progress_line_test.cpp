// The progress line's text: the bar and the count always; once a second has
// passed the throughput in files and (for a sync, which knows the sizes)
// megabytes a second, and the time left; the file's name last, cut from the
// left at a character's start so that the line fits the terminal.
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

TEST(ProgressLine, NameCutFromTheLeftToTheWidth) {
  const ProgressState base{4, 8, 18'000'000, 2, ""};
  const std::string head = progressLine(base, 200);  // the line without a name
  const struct {
    std::string name;
    std::size_t room;  // bytes for the name after the two spaces
    std::string shown;
  } cases[] = {
      {"/photos/2024/holiday.jpg", 30, "/photos/2024/holiday.jpg"},
      {"/photos/2024/holiday.jpg", 16, "…4/holiday.jpg"},
      // Never from the middle of a character: "é" is two bytes.
      {"/photos/été/x.jpg", 12, "…té/x.jpg"},
      {"/photos/été/x.jpg", 11, "…é/x.jpg"},
  };
  for (const auto& c : cases) {
    ProgressState state = base;
    state.name = c.name;
    const std::string line = progressLine(state, head.size() + 2 + c.room);
    EXPECT_EQ(line, head + "  " + c.shown) << c.name << " in " << c.room;
    EXPECT_LE(line.size(), head.size() + 2 + c.room);
  }
  // Too narrow for any name: the line is cut to the width.
  ProgressState state = base;
  state.name = "x.jpg";
  EXPECT_EQ(progressLine(state, 20), head.substr(0, 20));
}

}  // namespace
}  // namespace tolvek::tool
