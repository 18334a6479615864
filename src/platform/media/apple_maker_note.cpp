#include "platform/media/apple_maker_note.h"

#include <cstdint>

namespace tolvek::media {
namespace {

constexpr std::string_view kSignature{"Apple iOS\0", 10};
constexpr std::size_t kIfdStart = 14;  // signature, version (2 bytes), byte order (2 bytes)
constexpr std::uint16_t kContentIdentifierTag = 0x0011;
constexpr std::uint16_t kAsciiType = 2;
// A UUID is 36 characters; anything much longer is not one.
constexpr std::uint32_t kLongestIdentifier = 128;

struct Reader {
  std::string_view bytes;
  bool bigEndian;
  std::uint32_t at(std::size_t pos, std::size_t width) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const auto b = static_cast<std::uint8_t>(bytes[pos + (bigEndian ? i : width - 1 - i)]);
      value = (value << 8) | b;
    }
    return value;
  }
};

std::string printable(std::string_view text) {
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e) return {};
  }
  return std::string(text);
}

}  // namespace

std::string appleContentIdentifier(std::string_view makerNote) {
  if (makerNote.size() < kIfdStart + 2 || !makerNote.starts_with(kSignature)) return {};
  const std::string_view order = makerNote.substr(12, 2);
  if (order != "MM" && order != "II") return {};
  const Reader read{makerNote, order == "MM"};
  const std::uint32_t entries = read.at(kIfdStart, 2);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t entry = kIfdStart + 2 + std::size_t{12} * i;
    if (entry + 12 > makerNote.size()) return {};
    if (read.at(entry, 2) != kContentIdentifierTag) continue;
    const std::uint32_t count = read.at(entry + 4, 4);
    if (read.at(entry + 2, 2) != kAsciiType || count == 0 || count > kLongestIdentifier) return {};
    const std::size_t value = count <= 4 ? entry + 8 : read.at(entry + 8, 4);
    if (value > makerNote.size() || count > makerNote.size() - value) return {};
    return printable(makerNote.substr(value, count));
  }
  return {};
}

}  // namespace tolvek::media
