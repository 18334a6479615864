#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "tool_commands.h"

namespace tolvek::tool {
namespace {

constexpr std::size_t kBarWidth = 24;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::size_t terminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::string duration(double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

ProgressBar::ProgressBar(std::size_t total) : enabled_(isatty(STDERR_FILENO) == 1), total_(total) {}

ProgressBar::~ProgressBar() { clear(); }

void ProgressBar::show(std::size_t done, std::size_t total, const std::string& file) {
  done_ = done;
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
  const std::size_t filled = std::min(done_, total_) * kBarWidth / total_;
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                     std::to_string(done_) + "/" + std::to_string(total_);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (done_ > 0 && elapsed >= 1) {
    const double rate = static_cast<double>(done_) / elapsed;
    char text[64];
    std::snprintf(text, sizeof text, "  %.1f files/s  %s left", rate,
                  duration(static_cast<double>(total_ - std::min(done_, total_)) / rate).c_str());
    line += text;
  }
  // The file's name last, cut from the left so that its end stays in view.
  const std::size_t width = terminalWidth() - 1;
  std::string name = outputField(file_);
  if (!name.empty() && line.size() + 2 < width) {
    const std::size_t room = width - line.size() - 2;
    if (name.size() > room) {
      std::size_t from = name.size() - room + 1;
      while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
      name = "…" + name.substr(from);
    }
    line += "  " + name;
  }
  if (line.size() > width) line.resize(width);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace tolvek::tool
