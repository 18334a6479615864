#pragma once
// The text of the progress bar's line (progress_bar.h), apart from the
// terminal: a bar, files done of the total, once a second has passed the
// throughput (files and, when their sizes are known, megabytes a second)
// and the time left, then the file's name, cut in the middle to the width.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvek::tool {

struct ProgressState {
  std::size_t done = 0;
  std::size_t total = 0;
  std::uint64_t bytes = 0;  // of the files done; 0 when not known
  double elapsedSeconds = 0;
  std::string name;  // the file being read, already escaped for output
};

// At most `width` columns of a terminal (a wide character takes two): the
// name is cut first, in the middle between characters, keeping its file name
// and its extension longest; empty when the total is 0.
std::string progressLine(const ProgressState& state, std::size_t width);

}  // namespace tolvek::tool
