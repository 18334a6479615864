#pragma once
// A one-line progress bar on standard error, drawn only when standard error
// is a terminal, so logs and pipes never see it: files done of the total,
// the throughput (files and megabytes a second), the time left and the file
// being read, cut to the terminal's width (progress_line.h). Redrawn at most ten times a second, so that it costs nothing beside
// the work it shows.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvek::tool {

class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total);
  ~ProgressBar();  // clears the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Sets how far the work is (the total may grow as it is found) and the
  // file being read now; `bytes` is the size of the file just done, when
  // known (the megabytes a second count them).
  void show(std::size_t done, std::size_t total, const std::string& file, std::uint64_t bytes = 0);
  // Clears the bar so that a line of output starts at the left margin; the
  // next show draws it again.
  void clear();

 private:
  void draw();
  bool enabled_;
  bool drawn_ = false;
  std::size_t total_;
  std::size_t done_ = 0;
  std::uint64_t bytes_ = 0;
  std::string file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tolvek::tool
