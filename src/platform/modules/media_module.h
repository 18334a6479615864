#pragma once
// The picture and video side of the platform (libvips with libheif, FFmpeg),
// built as a shared module and opened on first use, so that runs which need
// no pictures never load the image stack. The module is reached over a C
// boundary (media_entry.h): this front end wraps its table.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/picture.h"
#include "platform/catalog/stored_asset.h"

namespace tolvek {

// What import learns of a file from its content (never from its name).
struct MediaProbe {
  MediaType mediaType = MediaType::unknown;  // 1 picture, 2 video, 3 audio
  std::string uniformTypeIdentifier;       // "public.jpeg", "public.heic", "public.mpeg-4", ...
  // Capture time in seconds since the epoch, from the first of these that
  // holds a plausible date: EXIF DateTimeOriginal with OffsetTimeOriginal,
  // DateTimeDigitized with OffsetTimeDigitized, DateTime with OffsetTime; XMP
  // exif:DateTimeOriginal, then xmp:CreateDate; a video's creation_time (an
  // AVI's is local time); then an XMP sidecar beside the file; then a date
  // in its name. A time written without an offset is local time. Nothing
  // when none holds one (the caller decides what stands in, such as the
  // file's modification time).
  std::optional<std::int64_t> creationDate;
  // Where creationDate came from: what the file itself carries (its
  // metadata, or an XMP sidecar beside it), or a date in its name.
  enum class DateFrom { content, sidecar, fileName } dateFrom = DateFrom::content;
  // Marked rejected (XMP rating -1, in the file or its sidecar): left out of
  // the library, as the photo managers that write the mark hide it.
  bool rejected = false;
  // Apple's content identifier, which a Live Photo's still (its maker note)
  // and its video (com.apple.quicktime.content.identifier) share; empty when
  // the file carries none.
  std::string contentIdentifier;
  // A video's length in seconds, when its container states one.
  std::optional<double> durationSeconds;
};

// The sides the derivatives cover. The small one covers what a 240-pixel
// thumbnail (the usual request) is, so it is handed over as it is; a
// picture whose short side is smaller keeps its whole picture as its only
// derivative instead. The large one is made only for pictures at least that
// large, which are costly to decode; smaller ones decode quickly from the
// original for the rare larger request.
inline constexpr std::int64_t kSmallDerivativeShortSide = 240;
inline constexpr std::int64_t kDerivativeShortSide = 512;

class MediaModule {
 public:
  virtual ~MediaModule() = default;
  // Decodes picture bytes; see PictureDecoder.
  virtual PictureDecoder& pictureDecoder() = 0;
  // An upright picture of the file at `path` that covers `target` (aspect
  // fill), never larger than the source: shrink-on-load for pictures, a frame
  // from the start for videos. Only a regular file is read (opened without
  // blocking), never past `maxBytes` (0: its size when opened; a file shorter
  // than a recorded `maxBytes` renders nothing). What decodes is shown, also
  // of a file damaged at its end. Nothing for audio or unreadable files.
  // `original`, for a derivative, is the upright size of the picture it was
  // made from: the covering size is then the one that picture gives, so that
  // a request has one answer whichever file renders it. The picture is in
  // sRGB once encoded without metadata.
  virtual std::unique_ptr<Picture> renderFile(const std::string& path, std::uint64_t maxBytes, MediaType mediaType,
                                              PixelSize target, std::optional<PixelSize> original) = 0;
  // Kind, type identifier and capture date of a file; nothing when it is not
  // a picture, video or audio file it can read. `namedPath` is where the user
  // keeps the file, when `path` is another name of it (/proc/self/fd/N of an
  // opened file): its XMP sidecar is looked for beside it and a date in its
  // name read from it.
  virtual std::optional<MediaProbe> probe(const std::string& path, const std::string& namedPath) = 0;
  std::optional<MediaProbe> probe(const std::string& path) { return probe(path, path); }
  // Writes the upright sRGB JPEG derivatives of `path` as files named
  // `pathPrefix` + a suffix of its choice, each of the size a request of its
  // side gives; returns them, smallest first, with the original's size.
  virtual std::vector<StoredDerivative> makeDerivatives(const std::string& path, MediaType mediaType,
                                                        const std::string& pathPrefix) = 0;
};

// Opens the media module on first call (beside the executable); the same
// instance afterwards. Nothing when it cannot be loaded.
MediaModule* loadMediaModule();

// The media module in the file `fileName` (beside the executable, see
// module_loader.h), through its C table (media_entry.h); nothing when it
// cannot be loaded, does not start, or was built against another table. The
// module stays loaded; the front end holds no other state.
std::unique_ptr<MediaModule> openMediaModule(const std::string& fileName);

}  // namespace tolvek
