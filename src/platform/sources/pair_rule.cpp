#include "platform/sources/pair_rule.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unordered_set>

#include "library/media_formats.h"

namespace tolvek {
namespace {

bool isStill(const PairCandidate& c) {
  return c.mediaType == MediaType::image &&
         (c.typeIdentifier == "public.jpeg" || c.typeIdentifier == "public.heic" || c.typeIdentifier == "public.heif");
}

bool isRaw(const PairCandidate& c) { return c.mediaType == MediaType::image && isCameraRawType(c.typeIdentifier); }

bool sameContent(const PairCandidate& still, const PairCandidate& video) {
  return !still.contentIdentifier.empty() && still.contentIdentifier == video.contentIdentifier;
}

// How well `video` goes with `still`: 2 by content identifier, 1 by name, 0 not.
int liveMatch(const PairCandidate& still, const PairCandidate& video) {
  if (video.mediaType != MediaType::video) return 0;
  if (video.durationSeconds && *video.durationSeconds > kLivePhotoMaxSeconds) return 0;
  if (sameContent(still, video)) return 2;
  const bool bothCarry = !still.contentIdentifier.empty() && !video.contentIdentifier.empty();
  if (bothCarry || !video.durationSeconds) return 0;
  return pairingStem(still.name) == pairingStem(video.name) ? 1 : 0;
}

}  // namespace

std::string pairingStem(std::string_view name) {
  if (const auto dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  std::string stem(name);
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string_view spelling : {"_hevc", "_heic"}) {
    if (stem.size() > spelling.size() && stem.ends_with(spelling)) stem.resize(stem.size() - spelling.size());
  }
  return stem;
}

std::vector<PairLink> pairsInFolder(const std::vector<PairCandidate>& files) {
  std::vector<PairLink> links;
  std::unordered_set<std::size_t> taken;
  // Content identifiers first, so that a still is not given another video by
  // its name before its own comes.
  for (const int wanted : {2, 1}) {
    for (const PairCandidate& still : files) {
      if (!isStill(still)) continue;
      const bool hasVideo = std::any_of(links.begin(), links.end(), [&](const PairLink& link) {
        return link.primary == still.asset && link.role == ResourceType::pairedVideo;
      });
      if (hasVideo) continue;
      for (std::size_t i = 0; i < files.size(); ++i) {
        if (taken.contains(i) || files[i].asset == still.asset || liveMatch(still, files[i]) != wanted) continue;
        taken.insert(i);
        links.push_back({still.asset, files[i].asset, ResourceType::pairedVideo});
        break;
      }
    }
  }
  for (const PairCandidate& still : files) {
    if (!isStill(still)) continue;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (taken.contains(i) || files[i].asset == still.asset || !isRaw(files[i])) continue;
      if (pairingStem(files[i].name) != pairingStem(still.name)) continue;
      taken.insert(i);
      links.push_back({still.asset, files[i].asset, ResourceType::alternatePhoto});
      break;
    }
  }
  return links;
}

std::vector<std::int64_t> assetsToProbe(const std::vector<PairCandidate>& files) {
  std::vector<std::int64_t> wanted;
  const auto video = [](const PairCandidate& c) { return c.mediaType == MediaType::video; };
  for (const PairCandidate& file : files) {
    if (file.factsKnown || !(isStill(file) || video(file))) continue;
    const std::string stem = pairingStem(file.name);
    const bool partner = std::any_of(files.begin(), files.end(), [&](const PairCandidate& other) {
      return (isStill(file) ? video(other) : isStill(other)) && pairingStem(other.name) == stem;
    });
    if (partner) wanted.push_back(file.asset);
  }
  return wanted;
}

std::optional<std::int64_t> durationMsOf(std::optional<double> seconds) {
  if (!seconds || !(*seconds >= 0 && *seconds < 1e9)) return std::nullopt;
  return std::llround(*seconds * 1000.0);
}

}  // namespace tolvek
