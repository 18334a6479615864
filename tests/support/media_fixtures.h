#pragma once
// Media files made by the tests themselves, with the project's own tools:
// libvips (JPEG, PNG, HEIC, AVIF, TIFF, WebP, GIF, EXIF), the ffmpeg program
// (videos, audio), and byte surgery for damaged files.
//
// Pictures carry a quadrant marker so orientation can be checked: upright,
// the top-left quarter is red, top-right green, bottom-left blue and
// bottom-right white.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvek::testing {

enum class Quadrant { topLeft, topRight, bottomLeft, bottomRight };
enum class MarkerColour { red, green, blue, white, other };
inline std::ostream& operator<<(std::ostream& out, MarkerColour colour) { return out << static_cast<int>(colour); }

inline constexpr Quadrant kQuadrants[] = {Quadrant::topLeft, Quadrant::topRight, Quadrant::bottomLeft,
                                          Quadrant::bottomRight};

// The marker colour of an upright quadrant.
MarkerColour markerColourAt(Quadrant quadrant);

// A folder under the temporary directory, removed with everything in it when
// this goes away.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

struct PictureFixture {
  int width = 64;   // upright size
  int height = 48;
  // EXIF orientation 1 to 8; the stored pixels are turned so that a viewer
  // that honours the tag shows the marker upright.
  int orientation = 1;
  std::optional<std::string> dateTimeOriginal{};    // "YYYY:MM:DD HH:MM:SS"
  std::optional<std::string> offsetTimeOriginal{};  // "+02:00"
  // Further EXIF strings by libvips field name: {"exif-ifd0-DateTime", "..."}.
  std::vector<std::pair<std::string, std::string>> exifStrings{};
  bool withIccProfile = false;       // embeds the sRGB profile
  // The marker's colours as Display P3 numbers, with the P3 profile
  // embedded (as phones write them): shown right only when converted.
  bool displayP3 = false;
  bool interlaced = false;  // progressive JPEG, interlaced PNG
  std::optional<std::string> xmp{};  // an XMP packet to embed (kSmallXmp, or any bytes)
};

// A small XMP packet that names the tool that wrote the picture.
inline constexpr std::string_view kSmallXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:CreatorTool=\"tolvek-fixture\"/>"
    "</rdf:RDF></x:xmpmeta>";

// An XMP packet (embedded, or a sidecar's whole content) whose one
// description has `attributes` (exif:, xmp: and xmpMM: prefixes declared)
// and holds `elements`.
inline std::string xmpPacket(std::string_view attributes, std::string_view elements = {}) {
  return "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
         "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" " +
         std::string(attributes) + ">" + std::string(elements) +
         "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

// Every maker below creates the parent folders of the file it writes.

// Picture formats libvips writes: "jpeg", "png", "heic", "avif", "tiff", "webp", "gif".
// Nothing happens and false is returned when the format cannot be written.
bool writePicture(const std::string& path, const std::string& format, const PictureFixture& picture = {});

struct VideoFixture {
  int width = 64;   // stored frame size
  int height = 48;
  double seconds = 1.0;
  std::string container = "mp4";  // "mp4", "mov", "m4v", "mkv", "avi"
  // Rotation metadata as the old "rotate" tag: degrees clockwise for display.
  int rotate = 0;
  // "2021-03-04T05:06:07Z"; in an AVI the muxer's date (ICRD), "2021-03-04 05:06:07"
  std::optional<std::string> creationTime{};
  bool withAudio = false;
  // Apple's Live Photo identifier (com.apple.quicktime.content.identifier).
  std::optional<std::string> contentIdentifier{};
};

// A video whose frames show the quadrant marker as stored (before rotation).
bool writeVideo(const std::string& path, const VideoFixture& video = {});

// A second of PAL DV, as a tape camcorder records it.
bool writeDvClip(const std::string& path);

// Whether ExifTool is installed; tests that need it skip with a message.
bool haveExiftool();
// Runs ExifTool with `arguments` on files it rewrites in place
// (-overwrite_original); true when it succeeded.
bool runExiftool(const std::vector<std::string>& arguments);

// An Apple maker note ("Apple iOS", version 1, big- or little-endian) with a
// version tag and, when given, a Live Photo's content identifier (tag 0x0011).
std::string appleMakerNote(const std::string& identifier, bool bigEndian = true);

// Writes an Apple maker note carrying `identifier` into the picture at
// `path` (with Make "Apple"), through ExifTool; false when it cannot.
bool writeAppleContentIdentifier(const std::string& path, const std::string& identifier);

// Audio only: "m4a", "mp3" or "wav"; with a creation_time when given.
bool writeAudio(const std::string& path, const std::string& format,
                const std::optional<std::string>& creationTime = std::nullopt);

// The first frame of a video as the ffmpeg program shows it (rotation
// applied), written as PNG.
bool writeFrameAsPlayersShowIt(const std::string& videoPath, const std::string& pngPath);

// A PNG whose header declares width x height but holds almost no data.
bool writePngHeaderOnly(const std::string& path, std::uint32_t width, std::uint32_t height);

// A whole file; nothing when it cannot be opened.
std::optional<std::string> readFileBytes(const std::string& path);
// The names of the entries of `folder`, sorted (hidden ones included).
std::vector<std::string> namesIn(const std::string& folder);
// Every path below `folder` (full paths, recursively), or only its regular
// files, sorted; empty when the folder is absent.
enum class TreeEntries { all, regularFiles };
std::vector<std::string> treeOf(const std::string& folder, TreeEntries entries = TreeEntries::all);
// Replaces the file with `bytes`; true when all were written.
bool writeFileBytes(const std::string& path, std::string_view bytes);
// Sets the file's access and modification times (seconds since the epoch).
bool setModificationTime(const std::string& path, std::int64_t seconds);
// The first `keep` bytes of `source` written to `target`.
bool writeTruncatedCopy(const std::string& source, const std::string& target, std::size_t keep);
// Where the first segment of a JPEG with `marker` (0xC0 a baseline frame
// header, 0xDA a scan header...) starts, at its 0xFF; nothing when none comes
// before the first scan's data.
std::optional<std::size_t> jpegMarkerOffset(std::string_view jpeg, unsigned char marker);
// Where the entropy-coded data of a JPEG's first scan starts (just after its
// scan header); nothing when it has none.
std::optional<std::size_t> jpegScanDataOffset(std::string_view jpeg);

// The marker colour found near the centre of a quadrant of the encoded picture
// (decoded without applying any orientation tag); `other` when unreadable.
MarkerColour markerColourIn(std::string_view encoded, Quadrant quadrant);
// The red, green and blue values near the centre of a quadrant of the
// encoded picture, read as sRGB whatever its profile says; nothing when it
// does not decode.
std::optional<std::array<int, 3>> colourIn(std::string_view encoded, Quadrant quadrant);
// The mean red, green and blue of the whole encoded picture, read as sRGB.
std::optional<std::array<double, 3>> meanColourIn(std::string_view encoded);
// Every quadrant's colour is within `tolerance` of the sRGB marker colour
// (a JPEG's rounding stays well within 16; P3 numbers read as sRGB differ
// by 35 and more).
::testing::AssertionResult showsSrgbMarker(std::string_view encoded, int tolerance = 16);
// The colours of the four quadrants, in the order of kQuadrants; and those
// of the upright marker.
std::vector<MarkerColour> markerColoursIn(std::string_view encoded);
std::vector<MarkerColour> uprightMarkerColours();

struct DecodedSize {
  int width = 0;
  int height = 0;
};
// Stored pixel size of an encoded picture; nothing when it does not decode.
std::optional<DecodedSize> encodedPictureSize(std::string_view encoded);
// The encoded picture decodes to `width` x `height` stored pixels.
::testing::AssertionResult hasPictureSize(std::string_view encoded, int width, int height);
// It shows the marker upright, with orientation 1.
::testing::AssertionResult showsUprightMarker(std::string_view encoded);
// Whether the picture's metadata holds `field`, a string or a block (such as
// "exif-data", "xmp-data", "icc-profile-data").
bool hasPictureMetadata(std::string_view encoded, const std::string& field);
// A string value of the picture's metadata as libvips reads it (for example
// "exif-ifd2-DateTimeOriginal"); nothing when absent or undecodable.
std::optional<std::string> pictureMetadata(std::string_view encoded, const std::string& field);
// The EXIF orientation of an encoded picture: 1 when it has none, 0 when it
// does not decode.
int pictureOrientation(std::string_view encoded);

// True when the ffmpeg program is present (video and audio fixtures need it).
bool haveFfmpeg();

}  // namespace tolvek::testing
