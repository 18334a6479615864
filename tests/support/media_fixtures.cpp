#include "support/media_fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "support/process_runner.h"

namespace tolvek::testing {
namespace {

constexpr char kFfmpeg[] = "/usr/bin/ffmpeg";
constexpr char kExiftool[] = "/usr/bin/exiftool";

void startVips() {
  static std::once_flag once;
  std::call_once(once, [] { VIPS_INIT("tolvek-tests"); });
}

struct Unref {
  void operator()(VipsImage* image) const {
    if (image != nullptr) g_object_unref(image);
  }
};
using Image = std::unique_ptr<VipsImage, Unref>;

Image take(VipsImage* image) { return Image(image); }

// The encoded picture as libvips reads it, without applying any orientation.
Image decoded(std::string_view encoded) {
  startVips();
  Image image = take(vips_image_new_from_buffer(encoded.data(), encoded.size(), "", nullptr));
  if (!image) vips_error_clear();
  return image;
}

std::array<unsigned char, 3> rgbOf(MarkerColour colour) {
  switch (colour) {
    case MarkerColour::red: return {255, 0, 0};
    case MarkerColour::green: return {0, 255, 0};
    case MarkerColour::blue: return {0, 0, 255};
    default: return {255, 255, 255};
  }
}

Image uprightMarker(int width, int height) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      const Quadrant q = bottom ? (right ? Quadrant::bottomRight : Quadrant::bottomLeft)
                                : (right ? Quadrant::topRight : Quadrant::topLeft);
      const auto rgb = rgbOf(markerColourAt(q));
      std::copy(rgb.begin(), rgb.end(), pixels.begin() + (static_cast<std::ptrdiff_t>(y) * width + x) * 3);
    }
  }
  Image image = take(vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, 3,
                                                     VIPS_FORMAT_UCHAR));
  if (image) image->Type = VIPS_INTERPRETATION_sRGB;
  return image;
}

Image rotated(VipsImage* in, VipsAngle angle) {
  VipsImage* out = nullptr;
  if (vips_rot(in, &out, angle, nullptr) != 0) return nullptr;
  return take(out);
}

Image flipped(VipsImage* in, VipsDirection direction = VIPS_DIRECTION_HORIZONTAL) {
  VipsImage* out = nullptr;
  if (in == nullptr || vips_flip(in, &out, direction, nullptr) != 0) return nullptr;
  return take(out);
}

// The stored pixels for an orientation tag: the inverse of what a viewer does.
Image storedFor(Image upright, int orientation) {
  switch (orientation) {
    case 1: return upright;
    case 2: return flipped(upright.get());
    case 3: return rotated(upright.get(), VIPS_ANGLE_D180);
    case 4: return flipped(upright.get(), VIPS_DIRECTION_VERTICAL);
    case 5: return flipped(rotated(upright.get(), VIPS_ANGLE_D90).get());
    case 6: return rotated(upright.get(), VIPS_ANGLE_D270);
    case 7: return flipped(rotated(upright.get(), VIPS_ANGLE_D270).get());
    case 8: return rotated(upright.get(), VIPS_ANGLE_D90);
    default: return nullptr;
  }
}

std::uint32_t crc32(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(std::string& out, std::string_view type, std::string_view data) {
  appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
  std::string body(type);
  body.append(data);
  out.append(body);
  appendBigEndian(out, crc32(body));
}

void createParentOf(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

bool runFfmpeg(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{"-nostdin", "-v", "error", "-y"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const ProcessResult result = runProcess(kFfmpeg, all);
  return result.exited() && result.exitStatus == 0;
}

}  // namespace

MarkerColour markerColourAt(Quadrant quadrant) {
  switch (quadrant) {
    case Quadrant::topLeft: return MarkerColour::red;
    case Quadrant::topRight: return MarkerColour::green;
    case Quadrant::bottomLeft: return MarkerColour::blue;
    case Quadrant::bottomRight: return MarkerColour::white;
  }
  return MarkerColour::other;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tolvek-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

bool writePicture(const std::string& path, const std::string& format, const PictureFixture& picture) {
  startVips();
  Image image = storedFor(uprightMarker(picture.width, picture.height), picture.orientation);
  if (!image) return false;
  VipsImage* copy = nullptr;
  if (vips_copy(image.get(), &copy, nullptr) != 0) return false;
  image = take(copy);
  if (picture.orientation != 1) vips_image_set_int(image.get(), VIPS_META_ORIENTATION, picture.orientation);
  // The library keeps one asset per content: fixtures at different paths
  // differ by their description, so each is an asset of its own.
  vips_image_set_string(image.get(), "exif-ifd0-ImageDescription", path.c_str());
  vips_image_set_string(image.get(), "png-comment-0-Description", path.c_str());
  if (picture.dateTimeOriginal)
    vips_image_set_string(image.get(), "exif-ifd2-DateTimeOriginal", picture.dateTimeOriginal->c_str());
  if (picture.offsetTimeOriginal)
    vips_image_set_string(image.get(), "exif-ifd2-OffsetTimeOriginal", picture.offsetTimeOriginal->c_str());
  for (const auto& [field, value] : picture.exifStrings) vips_image_set_string(image.get(), field.c_str(), value.c_str());
  if (picture.withIccProfile) {
    VipsBlob* profile = nullptr;
    if (vips_profile_load("srgb", &profile, nullptr) != 0) return false;
    size_t length = 0;
    const void* data = vips_blob_get(profile, &length);
    vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, data, length);
    vips_area_unref(VIPS_AREA(profile));
  }
  if (picture.xmp) vips_image_set_blob_copy(image.get(), VIPS_META_XMP_NAME, picture.xmp->data(), picture.xmp->size());
  if (picture.displayP3) {
    // The P3 numbers of the same colours; the output profile comes along.
    VipsImage* p3 = nullptr;
    if (vips_icc_transform(image.get(), &p3, "p3", "input_profile", "srgb", nullptr) != 0) {
      vips_error_clear();
      return false;
    }
    image = take(p3);
  }
  createParentOf(path);
  int failed = 1;
  const char* out = path.c_str();
  const gboolean interlace = picture.interlaced ? TRUE : FALSE;
  if (format == "jpeg") failed = vips_jpegsave(image.get(), out, "Q", 92, "interlace", interlace, nullptr);
  else if (format == "png") failed = vips_pngsave(image.get(), out, "interlace", interlace, nullptr);
  else if (format == "heic")
    failed = vips_heifsave(image.get(), out, "compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC, nullptr);
  else if (format == "avif")
    failed = vips_heifsave(image.get(), out, "compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1, nullptr);
  else if (format == "tiff") failed = vips_tiffsave(image.get(), out, nullptr);
  else if (format == "webp") failed = vips_webpsave(image.get(), out, nullptr);
  else if (format == "gif") failed = vips_gifsave(image.get(), out, nullptr);
  if (failed != 0) vips_error_clear();
  return failed == 0;
}

bool haveFfmpeg() { return ::access(kFfmpeg, X_OK) == 0; }

bool writeDvClip(const std::string& path) {
  if (!haveFfmpeg()) return false;
  createParentOf(path);
  return runFfmpeg({"-f", "lavfi", "-i", "testsrc=rate=25", "-t", "1", "-target", "pal-dv", "-f", "dv", path});
}

bool haveExiftool() { return ::access(kExiftool, X_OK) == 0; }

bool runExiftool(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{"-q", "-q", "-overwrite_original"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const ProcessResult result = runProcess(kExiftool, all);
  return result.exitStatus == 0;
}

std::string appleMakerNote(const std::string& identifier, bool bigEndian) {
  const auto put = [bigEndian](std::string& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
      const int shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
      out += static_cast<char>((value >> shift) & 0xff);
    }
  };
  std::string note("Apple iOS\0\0\x01", 12);
  note += bigEndian ? "MM" : "II";
  const std::uint32_t entries = identifier.empty() ? 1 : 2;
  put(note, entries, 2);
  put(note, 0x0001, 2), put(note, 9, 2), put(note, 1, 4), put(note, 14, 4);
  // Up to four bytes sit in the entry itself, as TIFF has it.
  const bool inEntry = identifier.size() + 1 <= 4;
  if (!identifier.empty()) {
    put(note, 0x0011, 2), put(note, 2, 2), put(note, static_cast<std::uint32_t>(identifier.size() + 1), 4);
    if (inEntry) {
      note += identifier + std::string(4 - identifier.size(), '\0');
    } else {
      put(note, static_cast<std::uint32_t>(14 + 2 + 12 * entries + 4), 4);
    }
  }
  put(note, 0, 4);
  return identifier.empty() || inEntry ? note : note + identifier + '\0';
}

bool writeAppleContentIdentifier(const std::string& path, const std::string& identifier) {
  const std::string note = path + ".makernote";
  const bool written = writeFileBytes(note, appleMakerNote(identifier)) &&
                       runExiftool({"-Make=Apple", "-MakerNotes<=" + note, path});
  std::error_code ignored;
  std::filesystem::remove(note, ignored);
  return written;
}

bool writeVideo(const std::string& path, const VideoFixture& video) {
  if (!haveFfmpeg()) return false;
  ScratchFolder work;
  const std::string marker = work.file("marker.png");
  if (!writePicture(marker, "png", PictureFixture{.width = video.width, .height = video.height})) return false;
  const std::string plain = work.file("plain." + video.container);
  std::vector<std::string> args{"-loop", "1", "-framerate", "10", "-i", marker};
  if (video.withAudio) {
    args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100"});
  }
  std::ostringstream seconds;
  seconds << video.seconds;
  args.insert(args.end(), {"-t", seconds.str(), "-pix_fmt", "yuv420p"});
  if (video.withAudio) args.insert(args.end(), {"-c:a", "aac", "-shortest"});
  args.push_back(plain);
  if (!runFfmpeg(args)) return false;
  // Rotation and dates are container metadata, set on a stream copy.
  std::vector<std::string> tag{"-i", plain, "-c", "copy", "-map_metadata", "-1"};
  if (video.rotate != 0) tag.insert(tag.end(), {"-metadata:s:v:0", "rotate=" + std::to_string(video.rotate)});
  if (video.creationTime) {
    const char* key = video.container == "avi" ? "date=" : "creation_time=";
    tag.insert(tag.end(), {"-metadata", key + *video.creationTime});
  }
  if (video.contentIdentifier) {
    tag.insert(tag.end(), {"-metadata", "com.apple.quicktime.content.identifier=" + *video.contentIdentifier,
                           "-movflags", "use_metadata_tags"});
  }
  tag.insert(tag.end(), {"-metadata", "comment=" + path});  // one asset per fixture, as for pictures
  // The muxer follows the container, never the target's name (tests write
  // videos under picture names too).
  const std::string muxer = video.container == "m4v"   ? "ipod"
                            : video.container == "mkv" ? "matroska"
                                                       : video.container;
  tag.insert(tag.end(), {"-f", muxer});
  createParentOf(path);
  tag.push_back(path);
  return runFfmpeg(tag);
}

bool writeAudio(const std::string& path, const std::string& format, const std::optional<std::string>& creationTime) {
  if (!haveFfmpeg()) return false;
  std::vector<std::string> args{"-f", "lavfi", "-i", "sine=frequency=440:duration=1"};
  if (format == "m4a") args.insert(args.end(), {"-c:a", "aac", "-f", "ipod"});
  else if (format == "mp3") args.insert(args.end(), {"-c:a", "libmp3lame", "-f", "mp3"});
  else if (format == "wav") args.insert(args.end(), {"-c:a", "pcm_s16le", "-f", "wav"});
  else return false;
  if (creationTime) args.insert(args.end(), {"-metadata", "creation_time=" + *creationTime});
  args.insert(args.end(), {"-metadata", "comment=" + path});  // one asset per fixture, as for pictures
  createParentOf(path);
  args.push_back(path);
  return runFfmpeg(args);
}

bool writeFrameAsPlayersShowIt(const std::string& videoPath, const std::string& pngPath) {
  return runFfmpeg({"-i", videoPath, "-frames:v", "1", "-f", "image2", "-c:v", "png", pngPath});
}

bool writePngHeaderOnly(const std::string& path, std::uint32_t width, std::uint32_t height) {
  std::string png("\x89PNG\r\n\x1A\n", 8);
  std::string header;
  appendBigEndian(header, width);
  appendBigEndian(header, height);
  header.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", std::string_view("\x78\x9C\x63\x00\x00\x00\x01\x00\x01", 9));
  appendChunk(png, "IEND", "");
  return writeFileBytes(path, png);
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> treeOf(const std::string& folder, TreeEntries entries) {
  std::vector<std::string> paths;
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) return paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
    if (entries == TreeEntries::all || entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool setModificationTime(const std::string& path, std::int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool writeFileBytes(const std::string& path, std::string_view bytes) {
  createParentOf(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool writeTruncatedCopy(const std::string& source, const std::string& target, std::size_t keep) {
  const auto bytes = readFileBytes(source);
  if (!bytes) return false;
  return writeFileBytes(target, std::string_view(*bytes).substr(0, keep));
}

std::optional<std::size_t> jpegMarkerOffset(std::string_view jpeg, unsigned char marker) {
  // Markers from the start of image: each but SOI carries its length; the
  // first scan header is the last before entropy-coded data.
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
    const auto found = static_cast<unsigned char>(jpeg[at + 1]);
    if (found == marker) return at;
    if (found == 0xDA) return std::nullopt;
    at += 2 + ((std::size_t{static_cast<unsigned char>(jpeg[at + 2])} << 8) | static_cast<unsigned char>(jpeg[at + 3]));
  }
  return std::nullopt;
}

std::optional<std::size_t> jpegScanDataOffset(std::string_view jpeg) {
  const auto scan = jpegMarkerOffset(jpeg, 0xDA);
  if (!scan || *scan + 4 > jpeg.size()) return std::nullopt;
  const std::size_t end = *scan + 2 + ((std::size_t{static_cast<unsigned char>(jpeg[*scan + 2])} << 8) |
                                       static_cast<unsigned char>(jpeg[*scan + 3]));
  return end <= jpeg.size() ? std::optional(end) : std::nullopt;
}

MarkerColour markerColourIn(std::string_view encoded, Quadrant quadrant) {
  Image image = decoded(encoded);
  if (!image) return MarkerColour::other;
  const bool right = quadrant == Quadrant::topRight || quadrant == Quadrant::bottomRight;
  const bool bottom = quadrant == Quadrant::bottomLeft || quadrant == Quadrant::bottomRight;
  const int x = image->Xsize * (right ? 3 : 1) / 4;
  const int y = image->Ysize * (bottom ? 3 : 1) / 4;
  double* values = nullptr;
  int count = 0;
  if (vips_getpoint(image.get(), &values, &count, x, y, nullptr) != 0 || count < 3) {
    vips_error_clear();
    g_free(values);
    return MarkerColour::other;
  }
  const double r = values[0], g = values[1], b = values[2];
  g_free(values);
  const auto high = [](double v) { return v > 180; };
  const auto low = [](double v) { return v < 90; };
  if (high(r) && low(g) && low(b)) return MarkerColour::red;
  if (low(r) && high(g) && low(b)) return MarkerColour::green;
  if (low(r) && low(g) && high(b)) return MarkerColour::blue;
  if (high(r) && high(g) && high(b)) return MarkerColour::white;
  return MarkerColour::other;
}

std::optional<std::array<int, 3>> colourIn(std::string_view encoded, Quadrant quadrant) {
  Image image = decoded(encoded);
  if (!image) return std::nullopt;
  const bool right = quadrant == Quadrant::topRight || quadrant == Quadrant::bottomRight;
  const bool bottom = quadrant == Quadrant::bottomLeft || quadrant == Quadrant::bottomRight;
  double* values = nullptr;
  int count = 0;
  if (vips_getpoint(image.get(), &values, &count, image->Xsize * (right ? 3 : 1) / 4,
                    image->Ysize * (bottom ? 3 : 1) / 4, nullptr) != 0 ||
      count < 3) {
    vips_error_clear();
    g_free(values);
    return std::nullopt;
  }
  const std::array<int, 3> rgb{static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2])};
  g_free(values);
  return rgb;
}

std::optional<std::array<double, 3>> meanColourIn(std::string_view encoded) {
  Image image = decoded(encoded);
  VipsImage* stats = nullptr;
  if (!image || image->Bands < 3 || vips_stats(image.get(), &stats, nullptr) != 0) {
    vips_error_clear();
    return std::nullopt;
  }
  Image table = take(stats);
  // One row per band after the first (all bands); column 4 is the mean.
  std::array<double, 3> mean{};
  for (int band = 0; band < 3; ++band) {
    double* value = nullptr;
    int count = 0;
    if (vips_getpoint(table.get(), &value, &count, 4, band + 1, nullptr) != 0 || count < 1) {
      vips_error_clear();
      g_free(value);
      return std::nullopt;
    }
    mean[static_cast<std::size_t>(band)] = value[0];
    g_free(value);
  }
  return mean;
}

::testing::AssertionResult showsSrgbMarker(std::string_view encoded, int tolerance) {
  for (const Quadrant q : kQuadrants) {
    const auto rgb = colourIn(encoded, q);
    if (!rgb) return ::testing::AssertionFailure() << "does not decode";
    const auto expected = rgbOf(markerColourAt(q));
    for (std::size_t k = 0; k < 3; ++k) {
      if (std::abs((*rgb)[k] - expected[k]) > tolerance) {
        return ::testing::AssertionFailure() << "quadrant " << static_cast<int>(q) << " is " << (*rgb)[0] << ","
                                             << (*rgb)[1] << "," << (*rgb)[2] << ", not " << int{expected[0]} << ","
                                             << int{expected[1]} << "," << int{expected[2]};
      }
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<MarkerColour> markerColoursIn(std::string_view encoded) {
  std::vector<MarkerColour> colours;
  for (Quadrant q : kQuadrants) colours.push_back(markerColourIn(encoded, q));
  return colours;
}

std::vector<MarkerColour> uprightMarkerColours() {
  std::vector<MarkerColour> colours;
  for (Quadrant q : kQuadrants) colours.push_back(markerColourAt(q));
  return colours;
}

std::optional<DecodedSize> encodedPictureSize(std::string_view encoded) {
  Image image = decoded(encoded);
  if (!image) return std::nullopt;
  return DecodedSize{image->Xsize, image->Ysize};
}

::testing::AssertionResult hasPictureSize(std::string_view encoded, int width, int height) {
  const auto size = encodedPictureSize(encoded);
  if (!size) return ::testing::AssertionFailure() << "does not decode";
  if (size->width != width || size->height != height) {
    return ::testing::AssertionFailure() << size->width << "x" << size->height;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult showsUprightMarker(std::string_view encoded) {
  if (const int orientation = pictureOrientation(encoded); orientation != 1) {
    return ::testing::AssertionFailure() << "orientation " << orientation;
  }
  if (markerColoursIn(encoded) != uprightMarkerColours()) {
    return ::testing::AssertionFailure() << ::testing::PrintToString(markerColoursIn(encoded));
  }
  return ::testing::AssertionSuccess();
}

bool hasPictureMetadata(std::string_view encoded, const std::string& field) {
  Image image = decoded(encoded);
  return image && vips_image_get_typeof(image.get(), field.c_str()) != 0;
}

std::optional<std::string> pictureMetadata(std::string_view encoded, const std::string& field) {
  Image image = decoded(encoded);
  const char* text = nullptr;
  if (!image || vips_image_get_typeof(image.get(), field.c_str()) == 0 ||
      vips_image_get_string(image.get(), field.c_str(), &text) != 0 || text == nullptr) {
    vips_error_clear();
    return std::nullopt;
  }
  return text;
}

int pictureOrientation(std::string_view encoded) {
  Image image = decoded(encoded);
  return image ? vips_image_get_orientation(image.get()) : 0;
}

}  // namespace tolvek::testing

// HEIC fixtures are encoded by libheif with x265, which keeps a few small
// allocations for the life of the process; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265\n"; }
