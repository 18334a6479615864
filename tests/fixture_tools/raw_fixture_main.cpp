// Writes camera RAW fixtures for the benchmarks:
//   raw_fixture FOLDER COUNT [PREVIEW_WIDTH [LAYOUT [ORIENTATION [SENSOR_WIDTH]]]]
// COUNT Nikon-like files (LAYOUT: nikon, sony, pentax or dng) named
// raw-N.nef (.arw, .pef, .dng), each with a preview PREVIEW_WIDTH pixels wide
// (default 1800, 0: none) at 3:2, turned by ORIENTATION (1, 3, 6 or 8), on
// a 3:2 sensor SENSOR_WIDTH pixels wide (default 3000).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/raw_fixtures.h"

int main(int argc, char** argv) {
  using tolvek::testing::RawLayout;
  if (argc < 3) {
    std::fprintf(stderr, "usage: raw_fixture FOLDER COUNT [PREVIEW_WIDTH [nikon|sony|pentax|dng [ORIENTATION [SENSOR_WIDTH]]]]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const int width = argc > 3 ? std::atoi(argv[3]) : 1800;
  const std::string layout = argc > 4 ? argv[4] : "nikon";
  tolvek::testing::RawFixture raw;
  raw.previewWidth = width;
  raw.previewHeight = width * 2 / 3;
  raw.sensorWidth = argc > 6 ? std::atoi(argv[6]) : 3000;
  raw.sensorHeight = raw.sensorWidth * 2 / 3;
  raw.orientation = argc > 5 ? std::atoi(argv[5]) : 1;
  std::string extension = ".nef";
  if (layout == "sony") raw.layout = RawLayout::previewInIfd1, extension = ".arw";
  if (layout == "pentax") raw.layout = RawLayout::previewInIfd0, extension = ".pef";
  if (layout == "dng") raw.layout = RawLayout::dng, extension = ".dng";
  for (int i = 0; i < count; ++i) {
    const std::string path = folder + "/raw-" + std::to_string(i) + extension;
    if (!tolvek::testing::writeRaw(path, raw)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
