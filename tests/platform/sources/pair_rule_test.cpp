#include "platform/sources/pair_rule.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

PairCandidate still(std::int64_t asset, std::string name, std::string id = "",
                    std::string type = "public.heic") {
  return {asset, std::move(name), MediaType::image, std::move(type), std::move(id), std::nullopt};
}
PairCandidate movie(std::int64_t asset, std::string name, std::optional<double> seconds, std::string id = "") {
  return {asset, std::move(name), MediaType::video, "com.apple.quicktime-movie", std::move(id), seconds};
}
PairCandidate raw(std::int64_t asset, std::string name) {
  return {asset, std::move(name), MediaType::image, "com.canon.cr2-raw-image", "", std::nullopt};
}

constexpr auto kVideo = ResourceType::pairedVideo;
constexpr auto kAlternate = ResourceType::alternatePhoto;

TEST(PairRule, StemsIgnoreExtensionCaseAndDownloadSpellings) {
  EXPECT_EQ(pairingStem("IMG_0001.HEIC"), "img_0001");
  EXPECT_EQ(pairingStem("IMG_0001_HEVC.MOV"), "img_0001");
  EXPECT_EQ(pairingStem("img_0001_heic.jpg"), "img_0001");
  EXPECT_EQ(pairingStem("_HEVC.MOV"), "_hevc");
  EXPECT_EQ(pairingStem(".hidden"), ".hidden");
  EXPECT_EQ(pairingStem("a.b.jpg"), "a.b");
}

TEST(PairRule, FolderContentsGiveTheirPairs) {
  struct Case {
    const char* what;
    std::vector<PairCandidate> files;
    std::vector<PairLink> expected;
  };
  const std::vector<Case> cases = {
      {"Live Photo by name", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0001.MOV", 2.9)}, {{1, 2, kVideo}}},
      {"download spelling", {movie(2, "IMG_0001_HEVC.MOV", 3), still(1, "IMG_0001.HEIC")}, {{1, 2, kVideo}}},
      {"JPEG still", {still(1, "IMG_0001.JPG", "", "public.jpeg"), movie(2, "img_0001.mov", 1)}, {{1, 2, kVideo}}},
      {"by content identifier across names",
       {still(1, "IMG_0001.HEIC", "A1"), movie(2, "IMG_0001.MOV", 3, "B2"), movie(3, "IMG_E0001.MOV", 3, "A1")},
       {{1, 3, kVideo}}},
      {"identifier preferred over the name of another still",
       {still(1, "IMG_0001.HEIC"), still(4, "IMG_0002.HEIC", "A1"), movie(2, "IMG_0001.MOV", 3, "A1")},
       {{4, 2, kVideo}}},
      {"one identifier missing: by name", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0001.MOV", 3, "A1")},
       {{1, 2, kVideo}}},
      {"different identifiers", {still(1, "IMG_0001.HEIC", "A1"), movie(2, "IMG_0001.MOV", 3, "B2")}, {}},
      {"long video stays its own", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0001.MOV", 5.5)}, {}},
      {"bound is inclusive", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0001.MOV", kLivePhotoMaxSeconds)},
       {{1, 2, kVideo}}},
      {"unknown length: not by name", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0001.MOV", std::nullopt)}, {}},
      {"unknown length: by identifier", {still(1, "IMG_0001.HEIC", "A1"), movie(2, "X.MOV", std::nullopt, "A1")},
       {{1, 2, kVideo}}},
      {"long video with the identifier", {still(1, "IMG_0001.HEIC", "A1"), movie(2, "IMG_0001.MOV", 60, "A1")}, {}},
      {"other names", {still(1, "IMG_0001.HEIC"), movie(2, "IMG_0002.MOV", 3)}, {}},
      {"PNG is no Live Photo still", {still(1, "IMG_0001.PNG", "", "public.png"), movie(2, "IMG_0001.MOV", 3)}, {}},
      {"one video, two stills", {still(1, "IMG_0001.HEIC"), still(3, "IMG_0001.JPG", "", "public.jpeg"),
                                 movie(2, "IMG_0001.MOV", 3)},
       {{1, 2, kVideo}}},
      {"RAW+JPEG", {raw(1, "IMGP0010.CR2"), still(2, "IMGP0010.JPG", "", "public.jpeg")}, {{2, 1, kAlternate}}},
      {"RAW+HEIC, case apart", {raw(1, "dsc_0001.cr2"), still(2, "DSC_0001.HEIC")}, {{2, 1, kAlternate}}},
      {"RAW alone", {raw(1, "IMGP0010.CR2"), still(2, "IMGP0011.JPG", "", "public.jpeg")}, {}},
      {"two RAWs, one JPEG", {raw(1, "A.CR2"), raw(3, "A.DNG"), still(2, "A.JPG", "", "public.jpeg")},
       {{2, 1, kAlternate}}},
      {"RAW, JPEG and movie", {raw(1, "A.DNG"), still(2, "A.JPG", "", "public.jpeg"), movie(3, "A.MOV", 2)},
       {{2, 3, kVideo}, {2, 1, kAlternate}}},
      {"a single file pairs with nothing", {still(1, "MVIMG_0001.jpg", "", "public.jpeg")}, {}},
      {"two videos of one name", {movie(1, "A.MOV", 2), movie(2, "A.MP4", 2)}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(pairsInFolder(c.files), c.expected) << c.what;
}

// Recorded before the catalog kept what pairs files.
PairCandidate unknown(PairCandidate c) {
  c.factsKnown = false;
  return c;
}

TEST(PairRule, OnlyFilesSharingANameWithTheOtherKindAreProbed) {
  const std::vector<std::pair<std::vector<PairCandidate>, std::vector<std::int64_t>>> cases = {
      {{unknown(still(1, "IMG_0001.JPG", "", "public.jpeg")), unknown(movie(2, "img_0001_HEVC.mov", std::nullopt))},
       {1, 2}},
      {{unknown(still(1, "IMG_0001.HEIC")), movie(2, "IMG_0001.MOV", 2, "A1")}, {1}},
      {{still(1, "IMG_0001.HEIC"), unknown(movie(2, "IMG_0001.MOV", std::nullopt))}, {2}},
      {{unknown(still(1, "IMG_0001.HEIC")), unknown(movie(2, "IMG_0002.MOV", std::nullopt))}, {}},
      {{unknown(movie(1, "A.MOV", std::nullopt)), unknown(movie(2, "A.MP4", std::nullopt))}, {}},
      {{unknown(raw(1, "A.CR2")), unknown(still(2, "A.JPG", "", "public.jpeg"))}, {}},
      {{unknown(still(1, "A.PNG", "", "public.png")), unknown(movie(2, "A.MOV", std::nullopt))}, {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(assetsToProbe(cases[i].first), cases[i].second) << i;
}

}  // namespace
}  // namespace tolvek
