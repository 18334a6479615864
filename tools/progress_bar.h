#pragma once
// A one-line progress bar on standard error, drawn only when standard error
// is a terminal, so logs and pipes never see it.
#include <cstddef>

namespace tolvek::tool {

class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total);
  ~ProgressBar();  // ends the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  void advance();
  // Sets how far the work is, when its total is known only as it goes.
  void show(std::size_t done, std::size_t total);
  // Clears the bar so that an error line starts at the left margin.
  void clear();

 private:
  void draw();
  bool enabled_;
  std::size_t total_;
  std::size_t done_ = 0;
};

}  // namespace tolvek::tool
