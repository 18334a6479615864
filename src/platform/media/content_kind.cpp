#include "platform/media/content_kind.h"

#include <cstdint>
#include <vector>

namespace tolvek::media {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

bool anyOf(const std::vector<std::string_view>& brands, std::initializer_list<std::string_view> wanted) {
  for (std::string_view brand : brands)
    for (std::string_view w : wanted)
      if (brand == w) return true;
  return false;
}

SniffResult fromBrands(std::string_view major, const std::vector<std::string_view>& all) {
  // Pictures: HEIC (HEVC-coded), AVIF (AV1-coded), else plain HEIF.
  if (anyOf({major}, {"heic", "heix", "heim", "heis", "hevc", "hevx"})) return {Sniffed::picture, "public.heic"};
  if (anyOf({major}, {"avif", "avis"})) return {Sniffed::picture, "public.avif"};
  if (anyOf({major}, {"mif1", "msf1", "mif2", "miaf"})) {
    if (anyOf(all, {"heic", "heix", "heim", "heis", "hevc", "hevx"})) return {Sniffed::picture, "public.heic"};
    if (anyOf(all, {"avif", "avis"})) return {Sniffed::picture, "public.avif"};
    return {Sniffed::picture, "public.heif"};
  }
  if (major == "qt  ") return {Sniffed::isoMedia, "com.apple.quicktime-movie"};
  if (anyOf({major}, {"M4V ", "M4VH", "M4VP"})) return {Sniffed::isoMedia, "com.apple.m4v-video"};
  if (anyOf({major}, {"M4A ", "M4B ", "M4P "})) return {Sniffed::isoMedia, "com.apple.m4a-audio"};
  return {Sniffed::isoMedia, "public.mpeg-4"};
}

}  // namespace

SniffResult sniffContent(std::string_view head) {
  if (startsWith(head, "\xFF\xD8\xFF")) return {Sniffed::picture, "public.jpeg"};
  if (startsWith(head, "\x89PNG\r\n\x1A\n")) return {Sniffed::picture, "public.png"};
  if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a")) return {Sniffed::picture, "com.compuserve.gif"};
  if (startsWith(head, std::string_view("II*\0", 4)) || startsWith(head, std::string_view("MM\0*", 4)))
    return {Sniffed::picture, "public.tiff"};
  if (head.size() >= 12 && startsWith(head, "RIFF") && head.substr(8, 4) == "WEBP")
    return {Sniffed::picture, "org.webmproject.webp"};
  if (head.size() >= 16 && head.substr(4, 4) == "ftyp") {
    const std::uint32_t boxSize = bigEndian32(head, 0);
    const std::size_t end = std::min<std::size_t>(head.size(), boxSize < 16 ? 16 : boxSize);
    const std::string_view major = head.substr(8, 4);
    std::vector<std::string_view> brands{major};
    for (std::size_t at = 16; at + 4 <= end; at += 4) brands.push_back(head.substr(at, 4));
    return fromBrands(major, brands);
  }
  if (head.empty()) return {};
  return {Sniffed::other, ""};
}

}  // namespace tolvek::media
