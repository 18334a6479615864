#include "progress_line.h"

#include <algorithm>
#include <cstdio>

namespace tolvek::tool {
namespace {

constexpr std::size_t kBarWidth = 24;

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

// "  12.5 files/s  48.3 MB/s  0:42 left" (megabytes of 10^6 bytes).
std::string throughput(const ProgressState& state) {
  const double files = static_cast<double>(state.done) / state.elapsedSeconds;
  std::string text;
  char part[64];
  std::snprintf(part, sizeof part, "  %.1f files/s", files);
  text += part;
  if (state.bytes > 0) {
    std::snprintf(part, sizeof part, "  %.1f MB/s", static_cast<double>(state.bytes) / 1e6 / state.elapsedSeconds);
    text += part;
  }
  const std::size_t left = state.total - std::min(state.done, state.total);
  return text + "  " + duration(static_cast<double>(left) / files) + " left";
}

}  // namespace

std::string progressLine(const ProgressState& state, std::size_t width) {
  if (state.total == 0) return {};
  const std::size_t filled = std::min(state.done, state.total) * kBarWidth / state.total;
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                     std::to_string(state.done) + "/" + std::to_string(state.total);
  if (state.done > 0 && state.elapsedSeconds >= 1) line += throughput(state);
  // The file's name last, cut from the left so that its end stays in view.
  std::string name = state.name;
  if (!name.empty() && line.size() + 2 < width) {
    const std::size_t room = width - line.size() - 2;
    if (name.size() > room) {
      // Room for the ellipsis' three bytes too.
      std::size_t from = name.size() - std::min(name.size(), room > 3 ? room - 3 : 0);
      while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
      name = "…" + name.substr(from);
    }
    line += "  " + name;
  }
  if (line.size() > width) line.resize(width);
  return line;
}

}  // namespace tolvek::tool
