#pragma once
// The file formats the library holds, one row each: its type identifier, its
// extension (and whether import names copies with it), how its first bytes
// are recognised, the libvips loaders that may decode it, whether export
// turns it into a JPEG and which FFmpeg demuxers name it. Every place that
// needs one of these facts reads it here (content sniffing, the probe's type
// identifiers, the decoders' loader check, import's copy names, export's
// conversion), the way each libvips loader declares its own suffixes and
// sniffer. Plain data and small constexpr functions only, so every layer may
// include it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "library/photo_types.h"

namespace tolvek {

// What kind of file a format is, as far as its first bytes tell.
enum class FormatFamily {
  picture,   // decoded by libvips
  cameraRaw, // a camera's RAW file, read with LibRaw (its embedded previews, or developed)
  isoMedia,  // an ISO base media file (MP4, MOV, M4A, M4V): video or audio by its streams
  other,     // audio or video that only FFmpeg's probe recognises
};

namespace format_sniffing {

constexpr bool startsWith(std::string_view head, std::string_view prefix) {
  return head.substr(0, prefix.size()) == prefix;
}

// An ISO base media file: a "ftyp" box first.
constexpr bool isIsoMedia(std::string_view head) { return head.size() >= 16 && head.substr(4, 4) == "ftyp"; }

constexpr std::string_view majorBrand(std::string_view head) { return head.substr(8, 4); }

template <std::size_t N>
constexpr bool oneOf(std::string_view brand, const std::array<std::string_view, N>& brands) {
  for (std::string_view b : brands)
    if (b == brand) return true;
  return false;
}

// True when a compatible brand of the "ftyp" box (the major one first) is one
// of `brands`. The box's own length bounds the list (at least 16 bytes).
template <std::size_t N>
constexpr bool anyBrand(std::string_view head, const std::array<std::string_view, N>& brands) {
  if (oneOf(majorBrand(head), brands)) return true;
  const std::uint32_t boxSize = (static_cast<std::uint32_t>(static_cast<unsigned char>(head[0])) << 24) |
                                (static_cast<std::uint32_t>(static_cast<unsigned char>(head[1])) << 16) |
                                (static_cast<std::uint32_t>(static_cast<unsigned char>(head[2])) << 8) |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(head[3]));
  const std::size_t end = std::min<std::size_t>(head.size(), boxSize < 16 ? 16 : boxSize);
  for (std::size_t at = 16; at + 4 <= end; at += 4)
    if (oneOf(head.substr(at, 4), brands)) return true;
  return false;
}

inline constexpr std::array<std::string_view, 6> kHevcBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx"};
inline constexpr std::array<std::string_view, 2> kAv1Brands = {"avif", "avis"};
// The structural HEIF brands: the codec comes from the compatible brands.
inline constexpr std::array<std::string_view, 4> kHeifBrands = {"mif1", "msf1", "mif2", "miaf"};

// HEVC-coded HEIF, by its major brand or a structural one with an HEVC brand.
constexpr bool isHeic(std::string_view head) {
  return isIsoMedia(head) && (oneOf(majorBrand(head), kHevcBrands) ||
                              (oneOf(majorBrand(head), kHeifBrands) && anyBrand(head, kHevcBrands)));
}
constexpr bool isAvif(std::string_view head) {
  return isIsoMedia(head) && (oneOf(majorBrand(head), kAv1Brands) ||
                              (oneOf(majorBrand(head), kHeifBrands) && anyBrand(head, kAv1Brands)));
}
// HEIF of any other codec (checked after HEIC and AVIF).
constexpr bool isHeif(std::string_view head) { return isIsoMedia(head) && oneOf(majorBrand(head), kHeifBrands); }
constexpr bool isJpeg(std::string_view head) { return startsWith(head, "\xFF\xD8\xFF"); }
constexpr bool isPng(std::string_view head) { return startsWith(head, "\x89PNG\r\n\x1A\n"); }
constexpr bool isGif(std::string_view head) { return startsWith(head, "GIF87a") || startsWith(head, "GIF89a"); }
constexpr bool isTiff(std::string_view head) {
  return startsWith(head, std::string_view("II*\0", 4)) || startsWith(head, std::string_view("MM\0*", 4));
}
// Camera RAW files. Most families have a magic of their own; the rest are
// TIFF files that only the tags of their first IFD tell from a plain TIFF
// (a DNGVersion tag, or the camera maker's name), read when they lie within
// the head.
constexpr bool isCr2(std::string_view head) { return isTiff(head) && head.size() >= 10 && head.substr(8, 2) == "CR"; }
constexpr bool isCr3(std::string_view head) { return isIsoMedia(head) && majorBrand(head) == "crx "; }
constexpr bool isCrw(std::string_view head) {
  return head.size() >= 14 && (startsWith(head, "II") || startsWith(head, "MM")) && head.substr(6, 8) == "HEAPCCDR";
}
constexpr bool isRaf(std::string_view head) { return startsWith(head, "FUJIFILMCCD-RAW"); }
constexpr bool isOrf(std::string_view head) {
  return startsWith(head, "IIRO") || startsWith(head, "IIRS") || startsWith(head, "MMOR");
}
constexpr bool isRw2(std::string_view head) { return startsWith(head, std::string_view("IIU\0", 4)); }
constexpr bool isMrw(std::string_view head) { return startsWith(head, std::string_view("\0MRM", 4)); }
constexpr bool isX3f(std::string_view head) { return startsWith(head, "FOVb"); }
constexpr bool isIiq(std::string_view head) { return startsWith(head, "IIII") || startsWith(head, "MMMM"); }

// What the first IFD of a TIFF says of the camera.
enum class TiffCamera { none, dng, nikon, nikonCoolpix, sony, pentax, samsung, hasselblad, epson, kodak, mamiya, leaf };

constexpr std::uint32_t tiffNumber(std::string_view head, std::size_t at, std::size_t bytes) {
  std::uint32_t value = 0;
  const bool big = head[0] == 'M';
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(head[at + (big ? i : bytes - 1 - i)]));
    value = (value << 8) | byte;
  }
  return value;
}

// The text of an ASCII entry at `entry` of the first IFD; empty when it lies
// beyond the head.
constexpr std::string_view tiffText(std::string_view head, std::size_t entry) {
  if (tiffNumber(head, entry + 2, 2) != 2) return {};
  const std::uint32_t count = tiffNumber(head, entry + 4, 4);
  const std::size_t at = count <= 4 ? entry + 8 : tiffNumber(head, entry + 8, 4);
  if (at >= head.size() || count > head.size() - at) return {};
  const std::string_view text = head.substr(at, count);
  return text.substr(0, text.find('\0'));
}

struct TiffMaker {
  std::string_view make;  // how the maker's name starts
  TiffCamera camera;
};
inline constexpr TiffMaker kTiffMakers[] = {
    {"NIKON", TiffCamera::nikon},        {"SONY", TiffCamera::sony},          {"PENTAX", TiffCamera::pentax},
    {"RICOH IMAGING", TiffCamera::pentax}, {"SAMSUNG", TiffCamera::samsung},  {"Hasselblad", TiffCamera::hasselblad},
    {"SEIKO EPSON", TiffCamera::epson},  {"KODAK", TiffCamera::kodak},        {"Kodak", TiffCamera::kodak},
    {"EASTMAN KODAK", TiffCamera::kodak}, {"Mamiya", TiffCamera::mamiya},     {"Leaf", TiffCamera::leaf},
};

constexpr TiffCamera tiffCamera(std::string_view head) {
  if (!isTiff(head) || head.size() < 8) return TiffCamera::none;
  const std::uint32_t ifd = tiffNumber(head, 4, 4);
  if (ifd < 8 || ifd > head.size() - 2) return TiffCamera::none;
  const std::uint32_t entries = tiffNumber(head, ifd, 2);
  std::string_view make, model;
  for (std::uint32_t i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= head.size(); ++i) {
    const std::size_t entry = ifd + 2 + 12 * i;
    const std::uint32_t tag = tiffNumber(head, entry, 2);
    if (tag == 0xC612) return TiffCamera::dng;  // DNGVersion
    if (tag == 0x010F) make = tiffText(head, entry);
    if (tag == 0x0110) model = tiffText(head, entry);
  }
  for (const TiffMaker& maker : kTiffMakers) {
    if (!startsWith(make, maker.make)) continue;
    // Nikon's compact cameras write the NRW variant.
    return maker.camera == TiffCamera::nikon && startsWith(model, "COOLPIX") ? TiffCamera::nikonCoolpix
                                                                            : maker.camera;
  }
  return TiffCamera::none;
}

template <TiffCamera camera>
constexpr bool isTiffRaw(std::string_view head) {
  return tiffCamera(head) == camera;
}
constexpr bool isWebp(std::string_view head) {
  return head.size() >= 12 && startsWith(head, "RIFF") && head.substr(8, 4) == "WEBP";
}
constexpr bool isQuickTime(std::string_view head) { return isIsoMedia(head) && majorBrand(head) == "qt  "; }
constexpr bool isM4v(std::string_view head) {
  return isIsoMedia(head) && oneOf(majorBrand(head), std::array<std::string_view, 3>{"M4V ", "M4VH", "M4VP"});
}
constexpr bool isM4a(std::string_view head) {
  return isIsoMedia(head) && oneOf(majorBrand(head), std::array<std::string_view, 3>{"M4A ", "M4B ", "M4P "});
}

}  // namespace format_sniffing

// How many first bytes of a file the sniffers want (fewer only when the
// file is shorter): enough for the first IFD of a TIFF-based RAW and the
// camera maker's name it points to.
inline constexpr std::size_t kSniffBytes = 4096;

// The class name of libvips' HEIF loader (HEIC, AVIF, HEIF), as
// vips_foreign_find_load gives it.
inline constexpr std::string_view kHeifLoader = "VipsForeignLoadHeif";

// The files FFmpeg's probe names as a format when no sniffer recognised
// them: those a demuxer of `demuxers` opens whose streams make them `as`
// (video: a video stream; audio: audio streams only). FFmpeg names a
// demuxer by a comma-separated list ("mov,mp4,m4a,3gp,3g2,mj2"); any name of
// the list counts.
struct Demuxed {
  MediaType as = MediaType::unknown;  // unknown: FFmpeg's probe never names it
  std::array<std::string_view, 2> demuxers{};
};

struct MediaFormat {
  std::string_view typeIdentifier;
  FormatFamily family;
  std::string_view extension;  // the format's own, with its dot
  // True when the first bytes of a file (at least kSniffBytes when it has
  // them) are this format's; null for formats that only FFmpeg's probe
  // recognises.
  bool (*sniff)(std::string_view head);
  // Names of the libvips loaders that decode it (class names and nicknames,
  // matched as prefixes); empty for formats libvips does not decode.
  std::array<std::string_view, 3> loaders;
  // Whether export writes it as a JPEG (needsJpegConversion reads it).
  bool convertedOnExport;
  Demuxed demuxed{};
  // Whether import names the copy of a file without an extension of its own
  // with `extension` (not yet for the formats only FFmpeg's probe names).
  bool namesCopies = true;
};

// Sniffers run in this order; the first that matches decides, so RAW files
// come before TIFF and the ISO rows, HEIC and
// AVIF come before plain HEIF and the other ISO media before MPEG-4, which
// takes every "ftyp" box left.
inline constexpr MediaFormat kMediaFormats[] = {
    {"public.jpeg", FormatFamily::picture, ".jpg", format_sniffing::isJpeg, {"VipsForeignLoadJpeg", "jpegload"}, false},
    {"public.png", FormatFamily::picture, ".png", format_sniffing::isPng, {"VipsForeignLoadPng", "pngload"}, false},
    {"com.compuserve.gif", FormatFamily::picture, ".gif", format_sniffing::isGif,
     {"VipsForeignLoadGif", "VipsForeignLoadNsgif", "gifload"}, false},
    // Camera RAW files, before TIFF (most are TIFF files) and the ISO rows (CR3).
    {"com.canon.cr2-raw-image", FormatFamily::cameraRaw, ".cr2", format_sniffing::isCr2, {}, false},
    {"com.canon.cr3-raw-image", FormatFamily::cameraRaw, ".cr3", format_sniffing::isCr3, {}, false},
    {"com.canon.crw-raw-image", FormatFamily::cameraRaw, ".crw", format_sniffing::isCrw, {}, false},
    {"com.fuji.raw-image", FormatFamily::cameraRaw, ".raf", format_sniffing::isRaf, {}, false},
    {"com.olympus.raw-image", FormatFamily::cameraRaw, ".orf", format_sniffing::isOrf, {}, false},
    {"com.panasonic.rw2-raw-image", FormatFamily::cameraRaw, ".rw2", format_sniffing::isRw2, {}, false},
    {"com.minolta.raw-image", FormatFamily::cameraRaw, ".mrw", format_sniffing::isMrw, {}, false},
    {"com.sigma.raw-image", FormatFamily::cameraRaw, ".x3f", format_sniffing::isX3f, {}, false},
    {"com.phaseone.raw-image", FormatFamily::cameraRaw, ".iiq", format_sniffing::isIiq, {}, false},
    {"com.adobe.raw-image", FormatFamily::cameraRaw, ".dng", format_sniffing::isTiffRaw<format_sniffing::TiffCamera::dng>,
     {}, false},
    {"com.nikon.raw-image", FormatFamily::cameraRaw, ".nef",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::nikon>, {}, false},
    {"com.nikon.nrw-raw-image", FormatFamily::cameraRaw, ".nrw",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::nikonCoolpix>, {}, false},
    {"com.sony.arw-raw-image", FormatFamily::cameraRaw, ".arw",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::sony>, {}, false},
    {"com.pentax.raw-image", FormatFamily::cameraRaw, ".pef",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::pentax>, {}, false},
    {"com.samsung.raw-image", FormatFamily::cameraRaw, ".srw",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::samsung>, {}, false},
    {"com.hasselblad.3fr-raw-image", FormatFamily::cameraRaw, ".3fr",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::hasselblad>, {}, false},
    {"com.epson.raw-image", FormatFamily::cameraRaw, ".erf",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::epson>, {}, false},
    {"com.kodak.raw-image", FormatFamily::cameraRaw, ".dcr",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::kodak>, {}, false},
    {"com.mamiya.raw-image", FormatFamily::cameraRaw, ".mef",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::mamiya>, {}, false},
    {"com.leafamerica.raw-image", FormatFamily::cameraRaw, ".mos",
     format_sniffing::isTiffRaw<format_sniffing::TiffCamera::leaf>, {}, false},
    {"public.tiff", FormatFamily::picture, ".tiff", format_sniffing::isTiff, {"VipsForeignLoadTiff", "tiffload"}, false},
    {"org.webmproject.webp", FormatFamily::picture, ".webp", format_sniffing::isWebp,
     {"VipsForeignLoadWebp", "webpload"}, false},
    {"public.heic", FormatFamily::picture, ".heic", format_sniffing::isHeic, {kHeifLoader, "heifload"}, true},
    {"public.avif", FormatFamily::picture, ".avif", format_sniffing::isAvif, {kHeifLoader, "heifload"}, false},
    {"public.heif", FormatFamily::picture, ".heif", format_sniffing::isHeif, {kHeifLoader, "heifload"}, true},
    // QuickTime files older than the "ftyp" box only FFmpeg recognises.
    {"com.apple.quicktime-movie", FormatFamily::isoMedia, ".mov", format_sniffing::isQuickTime, {}, false,
     {MediaType::video, {"mov"}}},
    {"com.apple.m4v-video", FormatFamily::isoMedia, ".m4v", format_sniffing::isM4v, {}, false},
    {"com.apple.m4a-audio", FormatFamily::isoMedia, ".m4a", format_sniffing::isM4a, {}, false,
     {MediaType::audio, {"mov"}}},
    {"public.mpeg-4", FormatFamily::isoMedia, ".mp4", format_sniffing::isIsoMedia, {}, false},
    {"public.mp3", FormatFamily::other, ".mp3", nullptr, {}, false, {MediaType::audio, {"mp3"}}},
    {"com.microsoft.waveform-audio", FormatFamily::other, ".wav", nullptr, {}, false,
     {MediaType::audio, {"wav", "w64"}}},
    {"org.matroska.mkv", FormatFamily::other, ".mkv", nullptr, {}, false, {MediaType::video, {"matroska"}}, false},
    {"public.avi", FormatFamily::other, ".avi", nullptr, {}, false, {MediaType::video, {"avi"}}, false},
    // Camcorder clips (DV, as tape camcorders and their capture tools write it).
    {"public.dv-movie", FormatFamily::other, ".dv", nullptr, {}, false, {MediaType::video, {"dv"}}, false},
    {"public.mpeg-2-transport-stream", FormatFamily::other, ".ts", nullptr, {}, false,
     {MediaType::video, {"mpegts"}}, false},
    {"public.mpeg", FormatFamily::other, ".mpg", nullptr, {}, false, {MediaType::video, {"mpeg"}}, false},
    {"com.microsoft.windows-media-wmv", FormatFamily::other, ".wmv", nullptr, {}, false,
     {MediaType::video, {"asf"}}, false},
    {"com.adobe.flash.video", FormatFamily::other, ".flv", nullptr, {}, false, {MediaType::video, {"flv"}}, false},
    {"public.aac-audio", FormatFamily::other, ".aac", nullptr, {}, false, {MediaType::audio, {"aac"}}, false},
    {"org.xiph.flac", FormatFamily::other, ".flac", nullptr, {}, false, {MediaType::audio, {"flac"}}, false},
    {"org.xiph.ogg-audio", FormatFamily::other, ".ogg", nullptr, {}, false, {MediaType::audio, {"ogg"}}, false},
    {"public.aiff-audio", FormatFamily::other, ".aiff", nullptr, {}, false, {MediaType::audio, {"aiff"}}, false},
    {"com.apple.coreaudio-format", FormatFamily::other, ".caf", nullptr, {}, false, {MediaType::audio, {"caf"}},
     false},
};

// What FFmpeg's probe names a video or audio file that no row declares.
inline constexpr std::string_view kOtherVideoType = "public.movie";
inline constexpr std::string_view kOtherAudioType = "public.audio";

// The row of `typeIdentifier`, or null.
constexpr const MediaFormat* mediaFormatOfType(std::string_view typeIdentifier) {
  for (const MediaFormat& format : kMediaFormats)
    if (format.typeIdentifier == typeIdentifier) return &format;
  return nullptr;
}

// The first row whose sniffer matches `head`, or null.
constexpr const MediaFormat* sniffMediaFormat(std::string_view head) {
  for (const MediaFormat& format : kMediaFormats)
    if (format.sniff != nullptr && format.sniff(head)) return &format;
  return nullptr;
}

// True when `head`, a file's first bytes (at least kSniffBytes when it has
// them), are those of a format of the table: a file the probe refuses is
// then a damaged or unsupported picture, video or audio file rather than
// no media at all.
constexpr bool looksLikeMedia(std::string_view head) { return sniffMediaFormat(head) != nullptr; }

// Whether `typeIdentifier` names a camera RAW format of the table.
constexpr bool isCameraRawType(std::string_view typeIdentifier) {
  const MediaFormat* format = mediaFormatOfType(typeIdentifier);
  return format != nullptr && format->family == FormatFamily::cameraRaw;
}

// The extension import gives the copy of a file of `typeIdentifier` whose
// own name has none; "" when no row names copies so.
constexpr std::string_view copyExtensionOfType(std::string_view typeIdentifier) {
  const MediaFormat* format = mediaFormatOfType(typeIdentifier);
  return format != nullptr && format->namesCopies ? format->extension : std::string_view();
}

// True when `name` is one of the names of FFmpeg's demuxer `demuxerName`
// (a comma-separated list).
constexpr bool namesDemuxer(std::string_view demuxerName, std::string_view name) {
  if (name.empty()) return false;
  for (;;) {
    const std::size_t comma = demuxerName.find(',');
    if (demuxerName.substr(0, comma) == name) return true;
    if (comma == std::string_view::npos) return false;
    demuxerName.remove_prefix(comma + 1);
  }
}

// The type identifier of a file that no sniffer recognised, which FFmpeg's
// demuxer `demuxerName` opened and whose streams make it `as` (video or
// audio): the row declaring that demuxer for it, else kOtherVideoType or
// kOtherAudioType.
constexpr std::string_view demuxedTypeIdentifier(std::string_view demuxerName, MediaType as) {
  for (const MediaFormat& format : kMediaFormats) {
    if (format.demuxed.as != as) continue;
    for (std::string_view name : format.demuxed.demuxers)
      if (namesDemuxer(demuxerName, name)) return format.typeIdentifier;
  }
  return as == MediaType::video ? kOtherVideoType : kOtherAudioType;
}

// True when `loaderName` names a libvips loader of a picture format of the
// table (loaders of every other format are refused).
constexpr bool isPictureLoaderName(std::string_view loaderName) {
  for (const MediaFormat& format : kMediaFormats)
    for (std::string_view loader : format.loaders)
      if (!loader.empty() && loaderName.substr(0, loader.size()) == loader) return true;
  return false;
}

}  // namespace tolvek
