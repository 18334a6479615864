#pragma once
// A one-line progress bar on standard error, drawn only when standard error
// is a terminal, so logs and pipes never see it: files done of the total,
// the rate, the time left and the file being read, cut to the terminal's
// width. Redrawn at most ten times a second, so that it costs nothing beside
// the work it shows.
#include <chrono>
#include <cstddef>
#include <string>

namespace tolvek::tool {

class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total);
  ~ProgressBar();  // clears the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Sets how far the work is (the total may grow as it is found) and the
  // file being read now.
  void show(std::size_t done, std::size_t total, const std::string& file);
  // Clears the bar so that a line of output starts at the left margin; the
  // next show draws it again.
  void clear();

 private:
  void draw();
  bool enabled_;
  bool drawn_ = false;
  std::size_t total_;
  std::size_t done_ = 0;
  std::string file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tolvek::tool
