#include "progress_line.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "library/utf8_text.h"

namespace tolvek::tool {
namespace {

constexpr std::size_t kBarWidth = 24;

// Where a name is cut: the one character of the ellipsis stands for what is
// left out.
constexpr std::string_view kEllipsis = "\u2026";

// Whether the code point takes two columns of a terminal: the wide and
// full-width blocks (CJK, Hangul, kana, full-width forms, the emoji).
bool isWide(char32_t c) {
  static constexpr char32_t kWide[][2] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
      {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
      {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
  };
  return std::any_of(std::begin(kWide), std::end(kWide), [c](const auto& r) { return c >= r[0] && c <= r[1]; });
}

// One character of a name: where its bytes start and how many columns it
// takes. A byte that starts no UTF-8 sequence is a character of its own, one
// column wide (a terminal shows one replacement for it).
struct Character {
  std::size_t at = 0;
  std::size_t columns = 1;
};

std::vector<Character> charactersOf(std::string_view text) {
  std::vector<Character> characters;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = std::max<std::size_t>(utf8SequenceLength(text.substr(at)), 1);
    char32_t c = static_cast<unsigned char>(text[at]);
    if (length > 1) {
      c &= 0x3F >> (length - 1);
      for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    characters.push_back({at, isWide(c) ? 2u : 1u});
    at += length;
  }
  return characters;
}

// A name as characters, cut to a number of columns with one ellipsis.
class Name {
 public:
  explicit Name(std::string_view text) : text_(text), characters_(charactersOf(text)) {}
  std::size_t size() const { return characters_.size(); }
  // The columns of the characters [from, to).
  std::size_t columns(std::size_t from, std::size_t to) const {
    std::size_t sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += characters_[i].columns;
    return sum;
  }
  // The index of the last '/' before the character `before`, if any.
  std::optional<std::size_t> slashBefore(std::size_t before) const {
    for (std::size_t i = before; i-- > 0;) {
      if (text_[characters_[i].at] == '/') return i;
    }
    return std::nullopt;
  }
  // The characters from `from` as many as fit in `room` columns, then the
  // ellipsis, then the characters [tail, end) whole.
  std::string cut(std::size_t from, std::size_t room, std::size_t tail) const {
    std::size_t to = from;
    for (std::size_t used = 0; to < tail && used + characters_[to].columns <= room; ++to) used += characters_[to].columns;
    return std::string(text_.substr(byteAt(from), byteAt(to) - byteAt(from))) + std::string(kEllipsis) +
           std::string(text_.substr(byteAt(tail)));
  }
  // The characters [from, end).
  std::string rest(std::size_t from) const { return std::string(text_.substr(byteAt(from))); }
  // The characters [from, end) in `room` columns: whole when they fit, else
  // cut in the middle: the end keeps the extension (from the last '.') and
  // half of the room at least.
  std::string middle(std::size_t from, std::size_t room) const {
    if (columns(from, size()) <= room) return rest(from);
    std::size_t dot = size();
    for (std::size_t i = size(); i-- > from + 1;) {
      if (text_[characters_[i].at] == '.') {
        dot = i;
        break;
      }
    }
    const std::size_t keep = std::min(std::max(columns(dot, size()), (room - 1) / 2), room - 1);
    std::size_t tail = size(), kept = 0;
    for (; tail > from && kept + characters_[tail - 1].columns <= keep; --tail) kept += characters_[tail - 1].columns;
    return cut(from, room - 1 - kept, tail);
  }

 private:
  std::size_t byteAt(std::size_t i) const { return i < size() ? characters_[i].at : text_.size(); }
  std::string_view text_;
  std::vector<Character> characters_;
};

// `text` in at most `room` columns (at least one): whole when it fits; else
// its file name with as many of the folders above it as fit in two thirds of
// the room, after the start of the path cut in the middle; else the file name
// alone after an ellipsis, or cut in the middle with its extension kept.
std::string fitted(std::string_view text, std::size_t room) {
  const Name name(text);
  if (name.columns(0, name.size()) <= room) return std::string(text);
  const std::optional<std::size_t> slash = name.slashBefore(name.size());
  if (!slash || 1 + name.columns(*slash, name.size()) > room) {
    const std::size_t start = slash ? *slash + 1 : 0;
    // The ellipsis stands for the folders when the file name fits beside it.
    if (slash && 1 + name.columns(start, name.size()) <= room) return std::string(kEllipsis) + name.rest(start);
    return name.middle(start, room);
  }
  std::size_t tail = *slash;
  const std::size_t budget = std::max(name.columns(tail, name.size()), room * 2 / 3);
  while (const auto above = name.slashBefore(tail)) {
    if (name.columns(*above, name.size()) > budget) break;
    tail = *above;
  }
  return name.cut(0, room - 1 - name.columns(tail, name.size()), tail);
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
  // The line before the name is ASCII: one column a byte.
  if (line.size() > width) line.resize(width);
  // The file's name last, cut in the middle so that its end stays in view.
  if (!state.name.empty() && line.size() + 2 < width) line += "  " + fitted(state.name, width - line.size() - 2);
  return line;
}

}  // namespace tolvek::tool
