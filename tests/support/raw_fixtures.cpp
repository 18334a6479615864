#include "support/raw_fixtures.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

enum : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSRational = 10 };

// One IFD entry: its numbers, or a reference to where an IFD or a blob lands.
struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::string bytes;         // the value, little-endian
  std::vector<int> ifds{};   // LONGs: the offsets of these IFDs
  int blob = -1;             // a LONG: the offset of blob `blob`
};
using Ifd = std::vector<Entry>;

std::string le(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}
Entry shorts(std::uint16_t tag, std::initializer_list<std::uint32_t> values) {
  std::string bytes;
  for (std::uint32_t v : values) bytes += le(v, 2);
  return {tag, kShort, bytes};
}
Entry longs(std::uint16_t tag, std::initializer_list<std::uint32_t> values) {
  std::string bytes;
  for (std::uint32_t v : values) bytes += le(v, 4);
  return {tag, kLong, bytes};
}
Entry text(std::uint16_t tag, std::string_view value) { return {tag, kAscii, std::string(value) + '\0'}; }
Entry ifdsAt(std::uint16_t tag, std::vector<int> ifds) { return {tag, kLong, "", std::move(ifds)}; }
Entry blobAt(std::uint16_t tag, int blob) { return {tag, kLong, le(0, 4), {}, blob}; }
Entry ratios(std::uint16_t tag, std::uint16_t type, std::initializer_list<std::pair<int, int>> values) {
  std::string bytes;
  for (auto [n, d] : values) bytes += le(static_cast<std::uint32_t>(n), 4) + le(static_cast<std::uint32_t>(d), 4);
  return {tag, type, bytes};
}

std::uint32_t unitSize(std::uint16_t type) {
  return type == kShort ? 2 : type == kLong ? 4 : (type == kRational || type == kSRational) ? 8 : 1;
}

// A little-endian TIFF: the IFDs first (IFD0 at 8, each followed by its
// values), so the head holds IFD0 and its strings; the blobs after them.
// `next[i]` is the IFD that follows IFD i in the chain, or -1.
std::string tiffFile(std::string_view magic8to12, const std::vector<Ifd>& ifds, const std::vector<int>& next,
                     const std::vector<std::string>& blobs) {
  std::vector<std::uint32_t> ifdOffset, blobOffset;
  std::uint32_t at = 8 + static_cast<std::uint32_t>(magic8to12.size());
  for (const Ifd& ifd : ifds) {
    ifdOffset.push_back(at);
    at += 2 + 12 * static_cast<std::uint32_t>(ifd.size()) + 4;
    for (const Entry& e : ifd) {
      const std::size_t size = e.bytes.size() + 4 * e.ifds.size();
      if (size > 4) at += static_cast<std::uint32_t>((size + 1) & ~std::size_t{1});
    }
  }
  for (const std::string& blob : blobs) {
    blobOffset.push_back(at);
    at += static_cast<std::uint32_t>((blob.size() + 1) & ~std::size_t{1});
  }
  std::string out = std::string("II*\0", 4) + le(ifdOffset.at(0), 4) + std::string(magic8to12);
  for (std::size_t i = 0; i < ifds.size(); ++i) {
    std::string values;
    std::uint32_t valuesAt = ifdOffset[i] + 2 + 12 * static_cast<std::uint32_t>(ifds[i].size()) + 4;
    out += le(static_cast<std::uint32_t>(ifds[i].size()), 2);
    for (const Entry& e : ifds[i]) {
      std::string value = e.blob >= 0 ? le(blobOffset.at(e.blob), 4) : e.bytes;
      for (int ifd : e.ifds) value += le(ifdOffset.at(ifd), 4);
      out += le(e.tag, 2) + le(e.type, 2) + le(static_cast<std::uint32_t>(value.size() / unitSize(e.type)), 4);
      if (value.size() <= 4) {
        out += value + std::string(4 - value.size(), '\0');
      } else {
        out += le(valuesAt + static_cast<std::uint32_t>(values.size()), 4);
        values += value;
        if (values.size() % 2 != 0) values.push_back('\0');
      }
    }
    out += le(next[i] >= 0 ? ifdOffset.at(next[i]) : 0, 4) + values;
  }
  for (const std::string& blob : blobs) out += blob + std::string(blob.size() % 2, '\0');
  return out;
}

// The stored (unturned) position's upright quadrant colour as RGB levels.
std::array<int, 3> uprightColourAt(int sx, int sy, int storedWidth, int storedHeight, int orientation) {
  int x = sx, y = sy, width = storedWidth, height = storedHeight;
  if (orientation == 3) x = storedWidth - 1 - sx, y = storedHeight - 1 - sy;
  if (orientation == 6) x = storedHeight - 1 - sy, y = sx, width = storedHeight, height = storedWidth;
  if (orientation == 8) x = sy, y = storedWidth - 1 - sx, width = storedHeight, height = storedWidth;
  const bool right = x >= width / 2, bottom = y >= height / 2;
  if (!right && !bottom) return {1, 0, 0};
  if (right && !bottom) return {0, 1, 0};
  if (!right && bottom) return {0, 0, 1};
  return {1, 1, 1};
}

// 16-bit RGGB mosaic data, little-endian.
std::string cfaData(const RawFixture& raw, int storedWidth, int storedHeight) {
  std::string out;
  out.reserve(static_cast<std::size_t>(storedWidth) * storedHeight * 2);
  for (int y = 0; y < storedHeight; ++y) {
    for (int x = 0; x < storedWidth; ++x) {
      const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
      int level = 1500;
      if (raw.markerInSensor) level = uprightColourAt(x, y, storedWidth, storedHeight, raw.orientation)[channel] ? 3800 : 300;
      out += le(static_cast<std::uint32_t>(level), 2);
    }
  }
  return out;
}

// A small flat bitmap (3 x 8 bits) as cameras put in IFD0.
std::string smallBitmap(int width, int height) {
  std::string out;
  for (int i = 0; i < width * height; ++i) out += std::string("\xC0\x20\xC0", 3);
  return out;
}

std::optional<std::string> previewJpeg(const RawFixture& raw) {
  ScratchFolder scratch;
  const std::string file = scratch.file("preview.jpg");
  PictureFixture picture;
  picture.width = raw.previewWidth;
  picture.height = raw.previewHeight;
  picture.orientation = raw.orientation;
  if (!writePicture(file, "jpeg", picture)) return std::nullopt;
  return readFileBytes(file);
}

std::string defaultMake(RawLayout layout) {
  switch (layout) {
    case RawLayout::previewInIfd0: return "PENTAX";
    case RawLayout::previewInSubIfd: return "NIKON CORPORATION";
    case RawLayout::previewInIfd1: return "SONY";
    case RawLayout::dng: return "Tolvek";
  }
  return "";
}

}  // namespace

namespace {

struct Parts {
  std::vector<Ifd> ifds;
  std::vector<int> next;
  std::vector<std::string> blobs;
  int add(Ifd ifd) {
    ifds.push_back(std::move(ifd));
    next.push_back(-1);
    return static_cast<int>(ifds.size()) - 1;
  }
  int blob(std::string bytes) {
    blobs.push_back(std::move(bytes));
    return static_cast<int>(blobs.size()) - 1;
  }
};

Ifd rawIfd(Parts& parts, const RawFixture& raw, bool dng) {
  const bool turned = raw.orientation >= 5;
  const int width = turned ? raw.sensorHeight : raw.sensorWidth, height = turned ? raw.sensorWidth : raw.sensorHeight;
  const auto [declaredWidth, declaredHeight] = raw.declaredSensor.value_or(std::pair{width, height});
  const std::string data = cfaData(raw, width, height);
  const auto size = static_cast<std::uint32_t>(data.size());
  Ifd ifd = {longs(0xFE, {0}), longs(0x100, {static_cast<std::uint32_t>(declaredWidth)}),
             longs(0x101, {static_cast<std::uint32_t>(declaredHeight)}), shorts(0x102, {16}), shorts(0x103, {1}),
             shorts(0x106, {32803}), blobAt(0x111, parts.blob(data)), shorts(0x115, {1}),
             longs(0x116, {static_cast<std::uint32_t>(height)}), longs(0x117, {size}), shorts(0x11C, {1}),
             shorts(0x828D, {2, 2}), {0x828E, kByte, std::string("\0\1\1\2", 4)}};
  if (dng) {
    ifd.push_back({0xC616, kByte, std::string("\0\1\2", 3)});
    ifd.push_back(shorts(0xC617, {1}));
    ifd.push_back(longs(0xC61A, {256}));
    ifd.push_back(longs(0xC61D, {4095}));
  }
  return ifd;
}

Ifd previewIfd(Parts& parts, const std::string& jpeg) {
  return {longs(0xFE, {1}), shorts(0x103, {6}), blobAt(0x201, parts.blob(jpeg)),
          longs(0x202, {static_cast<std::uint32_t>(jpeg.size())})};
}

// IFD0's picture: a 160-pixel flat bitmap, as Nikon and DNG writers put there.
Ifd smallBitmapEntries(Parts& parts, const RawFixture& raw) {
  const bool turned = raw.orientation >= 5;
  const int stored = std::max(1, turned ? raw.sensorWidth : raw.sensorHeight);
  const int width = 160, height = 160 * stored / std::max(1, turned ? raw.sensorHeight : raw.sensorWidth);
  return {longs(0xFE, {1}), longs(0x100, {static_cast<std::uint32_t>(width)}),
          longs(0x101, {static_cast<std::uint32_t>(height)}), shorts(0x102, {8, 8, 8}), shorts(0x103, {1}),
          shorts(0x106, {2}), blobAt(0x111, parts.blob(smallBitmap(width, height))), shorts(0x115, {3}),
          longs(0x116, {static_cast<std::uint32_t>(height)}),
          longs(0x117, {static_cast<std::uint32_t>(width * height * 3)})};
}

Ifd dngEntries() {
  const std::pair<int, int> one{1, 1}, zero{0, 1};
  return {{0xC612, kByte, std::string("\1\4\0\0", 4)}, text(0xC614, "Tolvek Fixture"),
          ratios(0xC621, kSRational, {one, zero, zero, zero, one, zero, zero, zero, one}),
          ratios(0xC628, kRational, {one, one, one}), shorts(0xC65A, {21})};
}

void sortTags(Ifd& ifd) {
  std::sort(ifd.begin(), ifd.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

}  // namespace

bool writeRaw(const std::string& path, const RawFixture& raw) {
  std::optional<std::string> jpeg;
  if (raw.previewWidth > 0) {
    jpeg = previewJpeg(raw);
    if (!jpeg) return false;
  }
  const std::string make = raw.make.empty() ? defaultMake(raw.layout) : raw.make;
  Parts parts;
  const int ifd0 = parts.add({});
  Ifd first = {text(0x10F, make), text(0x110, "Fixture"), shorts(0x112, {static_cast<std::uint32_t>(raw.orientation)})};
  auto append = [&first](const Ifd& more) { first.insert(first.end(), more.begin(), more.end()); };
  const bool dng = raw.layout == RawLayout::dng;
  if (dng) append(dngEntries());
  if (raw.layout == RawLayout::previewInIfd1) {
    append(rawIfd(parts, raw, false));
    if (jpeg) parts.next[ifd0] = parts.add(previewIfd(parts, *jpeg));
  } else {
    if (raw.layout != RawLayout::previewInIfd0) append(smallBitmapEntries(parts, raw));
    if (raw.layout == RawLayout::previewInIfd0 && jpeg) append(previewIfd(parts, *jpeg));
    std::vector<int> subIfds = {parts.add(rawIfd(parts, raw, dng))};
    if (raw.layout != RawLayout::previewInIfd0 && jpeg) subIfds.push_back(parts.add(previewIfd(parts, *jpeg)));
    first.push_back(ifdsAt(0x14A, subIfds));
  }
  // One NewSubfileType in IFD0: the first one added says what it holds.
  Ifd unique;
  for (const Entry& e : first)
    if (std::none_of(unique.begin(), unique.end(), [&e](const Entry& u) { return u.tag == e.tag; })) unique.push_back(e);
  parts.ifds[ifd0] = std::move(unique);
  for (Ifd& ifd : parts.ifds) sortTags(ifd);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  return writeFileBytes(path, tiffFile("", parts.ifds, parts.next, parts.blobs));
}

}  // namespace tolvek::testing
