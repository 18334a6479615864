#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace tolvek::tool {
namespace {
constexpr std::size_t kWidth = 30;
}

ProgressBar::ProgressBar(std::size_t total) : enabled_(isatty(STDERR_FILENO) == 1), total_(total) { draw(); }

ProgressBar::~ProgressBar() {
  if (enabled_) std::fputs("\n", stderr);
}

void ProgressBar::advance() {
  ++done_;
  draw();
}

void ProgressBar::show(std::size_t done, std::size_t total) {
  done_ = done;
  total_ = total;
  draw();
}

void ProgressBar::clear() {
  if (enabled_) std::fputs("\r\033[K", stderr);
}

void ProgressBar::draw() {
  if (!enabled_ || total_ == 0) return;
  const std::size_t filled = done_ * kWidth / total_;
  std::string bar(filled, '#');
  bar.append(kWidth - filled, '.');
  std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), done_, total_);
  std::fflush(stderr);
}

}  // namespace tolvek::tool
