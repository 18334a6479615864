#pragma once
// Camera RAW files made by the tests: TIFF-based RAWs laid out the way
// cameras lay them out (a few IFDs around a JPEG preview) and DNGs with a
// small 16-bit uncompressed CFA image that LibRaw develops. LibRaw's
// raw-identify and dcraw_emu read what these write.
#include <optional>
#include <string>

namespace tolvek::testing {

// Where the JPEG preview sits.
enum class RawLayout {
  previewInIfd0,    // Pentax- and Canon-like: IFD0 holds the preview, a SubIFD the raw data
  previewInSubIfd,  // Nikon-like: a 160-pixel bitmap in IFD0, the preview and the raw data in SubIFDs
  previewInIfd1,    // Sony-like: IFD0 holds the raw data, IFD1 the preview
  dng,              // a DNG: a 160-pixel bitmap in IFD0, the preview and the CFA image in SubIFDs
};

struct RawFixture {
  RawLayout layout = RawLayout::previewInSubIfd;
  int previewWidth = 1800;  // upright; 0: no preview
  int previewHeight = 1200;
  int sensorWidth = 96;  // upright size of the CFA image
  int sensorHeight = 64;
  int orientation = 1;  // EXIF orientation: 1, 3, 6 or 8
  // The CFA image shows the quadrant marker (upright once turned); otherwise
  // it is a flat grey, so that what shows the marker came from the preview.
  bool markerInSensor = true;
  // The sensor size the raw IFD declares, when it lies (a hostile header).
  std::optional<std::pair<int, int>> declaredSensor{};
  std::string make{};  // empty: the layout's own ("NIKON CORPORATION", "SONY", "PENTAX", "Canon")
};

// Writes the RAW to `path` (parents created); false when it cannot.
bool writeRaw(const std::string& path, const RawFixture& raw = {});

}  // namespace tolvek::testing
