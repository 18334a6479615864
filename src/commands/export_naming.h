#pragma once
// How export names what it writes. File names from the library are
// untrusted: they are cleaned, compared without regard to letter case, kept
// unique within one export and reported as absolute paths.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "library/photo_types.h"

namespace tolvek {

// A file name split into its base and its last extension.

struct FileNameParts {
  std::string base;       // the name without its last extension
  std::string extension;  // without its dot; empty when the name has none
};

// The extension is the text after the last dot. Leading dots never start an
// extension (".hidden" has none) and a trailing dot gives none ("name." has
// none). IMG_0001.JPG gives IMG_0001 and JPG; archive.tar.gz gives
// archive.tar and gz.
FileNameParts splitFileName(std::string_view name);

// Full Unicode lower-casing of a whole string, independent of the locale.

// Lower-cases valid UTF-8 with the Unicode rules (İ gives i and a combining
// dot above, a final Σ gives ς, ẞ gives ß); text that is not valid UTF-8 is
// lower-cased in ASCII only, byte by byte.
std::string lowercased(std::string_view text);

// Paths as export reports them: absolute, naming the file the kernel writes.

// `path` prefixed with `workingDirectory` when relative (an empty path is the
// working directory), with "." segments and repeated and trailing "/"
// removed. ".." segments stay: the kernel resolves them after any symbolic
// link before them, so removing them as text could name another folder.
// Stays relative only when `workingDirectory` is not absolute (it could not
// be determined).
std::string absolutePath(const std::string& path, const std::string& workingDirectory);

// `directory` + "/" + `name`, without doubling the root's "/".
std::string appendingPathComponent(const std::string& directory, const std::string& name);

// File names from the library are untrusted: what export may write them as.

// `name` with every "/" and NUL replaced by "_", so that it names one file
// directly inside the export folder; ".", ".." and an empty name become the
// fallback name of `mediaType` ("video.mov" or "photo.jpg").
std::string cleanedFileName(const std::string& name, MediaType mediaType);

// The file names handed out during one export, compared without regard to

// Longest file name, in bytes, that the file systems of Linux accept.
inline constexpr std::size_t kMaxFileNameBytes = 255;

class UniqueFileNames {
 public:
  // The proposed name when its lower-cased form has not been handed out yet,
  // else base-2.ext, base-3.ext, ... (base-2 without an extension), each
  // built from the proposed name. The returned name keeps its letter case
  // and stays reserved for good. A name longer than kMaxFileNameBytes has
  // its base shortened at a character boundary, keeping number and extension.
  std::string unique(const std::string& proposed);

 private:
  std::set<std::string> used_;
};

// Which exported pictures become JPEG, and under what name.

inline constexpr double kConversionQuality = 0.92;

// True for the formats media_formats.h converts on export (HEIC, HEIF): when
// the lower-cased type identifier contains a converted format's extension
// without its dot ("heic", "heif"), or the lower-cased file name ends with
// that extension (".heic", ".heif").
bool needsJpegConversion(const std::optional<std::string>& typeIdentifier, const std::string& fileName);

// The file name without its last extension, followed by ".jpg":
// IMG_0042.HEIC gives IMG_0042.jpg, Scan gives Scan.jpg.
std::string convertedFileName(const std::string& fileName);

}  // namespace tolvek
