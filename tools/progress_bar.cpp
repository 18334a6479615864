#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "progress_line.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::size_t terminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ProgressBar::ProgressBar(std::size_t total) : enabled_(isatty(STDERR_FILENO) == 1), total_(total) {}

ProgressBar::~ProgressBar() { clear(); }

void ProgressBar::show(std::size_t done, std::size_t total, const std::string& file, std::uint64_t bytes) {
  done_ = done;
  bytes_ += bytes;
  total_ = total;
  file_ = file;
  const auto now = std::chrono::steady_clock::now();
  if (!enabled_ || now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  draw();
}

void ProgressBar::clear() {
  if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

void ProgressBar::draw() {
  if (total_ == 0) return;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string line = progressLine({done_, total_, bytes_, elapsed, outputField(file_)}, terminalWidth() - 1);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace tolvek::tool
