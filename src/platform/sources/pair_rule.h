#pragma once
// Which media files of one folder are one asset: a Live Photo (a still and
// the short movie taken with it) or a RAW with the JPEG or HEIC the camera
// wrote beside it. Pure: the sync gives each asset found directly in one
// folder (whichever sources name its files) and records the links it gets.
//
// - Live Photo: a HEIC or JPEG still and a video of at most
//   kLivePhotoMaxSeconds whose Apple content identifiers are equal; or, when
//   they do not both carry one, whose names are the same but for the
//   extension (and the _HEVC/_HEIC that downloads add to the name). A video
//   whose length is unknown pairs only by equal content identifiers (a
//   movie of unknown length must not disappear into a picture by its name).
// - RAW+JPEG (or RAW+HEIC): a camera RAW and such a still of the same name
//   but for the extension.
// Names are compared without regard to ASCII case (cameras write IMG_0001.CR2
// beside IMG_0001.JPG, some tools lower the case of one of them). Each still
// takes at most one video and one RAW, and each of those at most one still;
// a still whose content identifier matches is preferred to one whose name
// does. A single file never pairs with itself (a motion photo, a JPEG
// carrying its own video, stays one picture).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/photo_types.h"

namespace tolvek {

// Live Photo movies last about three seconds.
inline constexpr double kLivePhotoMaxSeconds = 5.0;

struct PairCandidate {
  std::int64_t asset = 0;
  std::string name;  // the file's name, without its folder
  MediaType mediaType = MediaType::unknown;
  std::string typeIdentifier;
  std::string contentIdentifier;  // empty: none
  std::optional<double> durationSeconds;
  // False when the two above were never learnt (recorded before the catalog
  // kept them): then they read as none and unknown.
  bool factsKnown = true;
};

// `other` is a resource of the asset `primary` (the still), as `role`
// (ResourceType::pairedVideo or ResourceType::alternatePhoto).
struct PairLink {
  std::int64_t primary = 0;
  std::int64_t other = 0;
  ResourceType role = ResourceType::pairedVideo;
  bool operator==(const PairLink&) const = default;
};

// The name without its extension and without a trailing _HEVC or _HEIC,
// lower-cased (ASCII).
std::string pairingStem(std::string_view name);

// The links among `files` (the assets of one folder): Live Photos found by
// content identifier, then by name, then RAW+JPEG pairs.
std::vector<PairLink> pairsInFolder(const std::vector<PairCandidate>& files);

// The assets among `files` whose facts the rule needs and does not know: a
// still or a video without them that shares its stem with a file of the
// other kind (a Live Photo recorded before its halves could pair). Only
// these are probed again, so that pairing an old library reads few files.
std::vector<std::int64_t> assetsToProbe(const std::vector<PairCandidate>& files);

// A probe's length in whole milliseconds, as the catalog records it; nothing
// when unknown or out of range.
std::optional<std::int64_t> durationMsOf(std::optional<double> seconds);

}  // namespace tolvek
