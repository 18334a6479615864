// The naming rules of export: splitting, lower-casing, reserving, cleaning,
// conversion (which agrees with the format table's column, for every
// format's type identifier and copy name) and folder paths.
#include "commands/export_naming.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>

#include "library/media_formats.h"
#include "library/photo_types.h"

namespace tolvek {
namespace {

using Names = std::vector<std::string>;

TEST(SplitFileName, LastExtensionExceptForLeadingAndTrailingDots) {
  const struct {
    std::string name, base, extension;
  } cases[] = {{"IMG_0001.JPG", "IMG_0001", "JPG"},
               {"archive.tar.gz", "archive.tar", "gz"},
               {"Scan", "Scan", ""},
               {".hidden", ".hidden", ""},
               {"..hidden", "..hidden", ""},
               {".hidden.txt", ".hidden", "txt"},
               {"name.", "name.", ""},
               {"name..", "name..", ""},
               {"a..b", "a.", "b"},
               {".", ".", ""},
               {"...", "...", ""},
               {"", "", ""},
               {"caf\xC3\xA9.H\xC3\x89IC", "caf\xC3\xA9", "H\xC3\x89IC"}};
  for (const auto& c : cases) {
    const FileNameParts parts = splitFileName(c.name);
    EXPECT_EQ(parts.base, c.base) << c.name;
    EXPECT_EQ(parts.extension, c.extension) << c.name;
  }
}

TEST(Lowercased, FullUnicodeWithoutLocaleAndAsciiForInvalidText) {
  const struct {
    std::string text, lower;
  } cases[] = {{"IMG_0001.JPG", "img_0001.jpg"},
               {"\xC4\xB0.JPG", "i\xCC\x87.jpg"},                    // İ: i and a combining dot above
               {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},  // ΟΔΟΣ: final ς
               {"\xCE\xA3\xCE\x9F", "\xCF\x83\xCE\xBF"},            // ΣΟ: medial σ
               {"STRA\xE1\xBA\x9E" "E", "stra\xC3\x9F" "e"},          // ẞ gives ß
               {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},          // ÉTÉ
               {"\xF0\x9F\x93\xB7 Photo", "\xF0\x9F\x93\xB7 photo"},
               {"AB\xFF" "CD", "ab\xFF" "cd"},                      // not UTF-8: ASCII only
               {std::string("A\0B", 3), std::string("a\0b", 3)},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(lowercased(c.text), c.lower) << c.text;
}

Names uniqueSequence(const Names& proposed) {
  UniqueFileNames names;
  Names given;
  for (const std::string& name : proposed) given.push_back(names.unique(name));
  return given;
}

TEST(UniqueFileNames, NumbersFromTwoBetweenBaseAndExtensionIgnoringCase) {
  const struct {
    Names proposed, expected;
  } cases[] = {
      {{"IMG_0001.JPG", "IMG_0001.JPG"}, {"IMG_0001.JPG", "IMG_0001-2.JPG"}},
      {{"IMG_0001.JPG", "IMG_0001.JPG", "img_0001.jpg"}, {"IMG_0001.JPG", "IMG_0001-2.JPG", "img_0001-3.jpg"}},
      {{"Scan", "Scan", "SCAN"}, {"Scan", "Scan-2", "SCAN-3"}},
      {{"IMG_0005.jpg", "IMG_0005.jpg"}, {"IMG_0005.jpg", "IMG_0005-2.jpg"}},
      // Built from the proposed name, never from the previous candidate.
      {{"a.jpg", "a-2.jpg", "a.jpg"}, {"a.jpg", "a-2.jpg", "a-3.jpg"}},
      {{"a-2.jpg", "a.jpg", "a.jpg"}, {"a-2.jpg", "a.jpg", "a-3.jpg"}},
      {{"archive.tar.gz", "archive.tar.gz"}, {"archive.tar.gz", "archive.tar-2.gz"}},
      {{".hidden", ".hidden"}, {".hidden", ".hidden-2"}},
      {{"name.", "name."}, {"name.", "name.-2"}},
      {{"\xC4\xB0.jpg", "i\xCC\x87.jpg"}, {"\xC4\xB0.jpg", "i\xCC\x87-2.jpg"}},
      {{"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},
       {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82-2"}},
      {{"STRA\xE1\xBA\x9E" "E.png", "stra\xC3\x9F" "e.png"}, {"STRA\xE1\xBA\x9E" "E.png", "stra\xC3\x9F" "e-2.png"}},
      {{"a.jpg", "b.jpg", "A.JPEG"}, {"a.jpg", "b.jpg", "A.JPEG"}},
  };
  for (const auto& c : cases) EXPECT_EQ(uniqueSequence(c.proposed), c.expected) << c.proposed.front();
}

TEST(UniqueFileNames, ManyRepeatsKeepCounting) {
  UniqueFileNames names;
  for (int i = 1; i <= 120; ++i) {
    EXPECT_EQ(names.unique("x.jpg"), i == 1 ? std::string("x.jpg") : "x-" + std::to_string(i) + ".jpg");
  }
}

TEST(UniqueFileNames, LongNamesAreShortenedToFitAtACharacterBoundary) {
  const std::string longest = std::string(251, 'a') + ".jpg";  // 255 bytes
  UniqueFileNames names;
  EXPECT_EQ(names.unique(longest), longest);
  const std::string second = names.unique(longest);
  EXPECT_EQ(second, std::string(249, 'a') + "-2.jpg");
  EXPECT_EQ(second.size(), kMaxFileNameBytes);
  EXPECT_EQ(names.unique(longest), std::string(249, 'a') + "-3.jpg");

  // Too long from the start: cut, keeping the extension.
  const std::string tooLong = std::string(300, 'b') + ".HEIC";
  EXPECT_EQ(names.unique(tooLong), std::string(250, 'b') + ".HEIC");
  EXPECT_EQ(names.unique(tooLong), std::string(248, 'b') + "-2.HEIC");

  // Cutting never splits a character.
  std::string emoji;
  for (int i = 0; i < 70; ++i) emoji += "\xF0\x9F\x93\xB7";  // 280 bytes
  for (const std::string& name : {names.unique(emoji + ".jpg"), names.unique(emoji + ".jpg")}) {
    EXPECT_LE(name.size(), kMaxFileNameBytes);
    EXPECT_TRUE(g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) << name;
  }

  // An extension too long to leave room for a number counts as base.
  const std::string hugeExtension = "x." + std::string(260, 'e');
  const std::string first = names.unique(hugeExtension);
  const std::string again = names.unique(hugeExtension);
  EXPECT_EQ(first.size(), kMaxFileNameBytes);
  EXPECT_EQ(again.size(), kMaxFileNameBytes);
  EXPECT_TRUE(again.ends_with("-2")) << again;
  EXPECT_NE(lowercased(first), lowercased(again));
}

TEST(CleanedFileName, NamesNeverLeaveTheFolder) {
  const struct {
    std::string name;
    MediaType mediaType;
    std::string cleaned;
  } cases[] = {{"IMG_0001.JPG", MediaType::image, "IMG_0001.JPG"},
               {"../../etc/passwd", MediaType::image, ".._.._etc_passwd"},
               {"/abs/path.mov", MediaType::video, "_abs_path.mov"},
               {"dir/", MediaType::image, "dir_"},
               {std::string("a\0b.jpg", 7), MediaType::image, "a_b.jpg"},
               {".", MediaType::image, "photo.jpg"},
               {"..", MediaType::video, "video.mov"},
               {"..", MediaType::audio, "photo.jpg"},
               {"", MediaType::video, "video.mov"},
               {"...", MediaType::image, "..."},
               {"\\back\\slash", MediaType::image, "\\back\\slash"},
               {"\xF0\x9F\x93\xB7.jpg", MediaType::image, "\xF0\x9F\x93\xB7.jpg"}};
  for (const auto& c : cases) {
    const std::string cleaned = cleanedFileName(c.name, c.mediaType);
    EXPECT_EQ(cleaned, c.cleaned) << c.name;
    EXPECT_EQ(cleaned.find('/'), std::string::npos);
    EXPECT_EQ(cleaned.find('\0'), std::string::npos);
  }
}

TEST(HeifConversion, TypeIdentifierAnywhereOrNameAtTheEnd) {
  const struct {
    std::optional<std::string> type;
    std::string name;
    bool convert;
  } cases[] = {{"public.heic", "IMG.JPG", true},
               {"public.heif", "IMG", true},
               {"PUBLIC.HEIC", "x", true},
               {"com.example.heics-sequence", "x.png", true},
               {"org.heifgroup.avif", "x.png", true},
               {"public.jpeg", "IMG_0006.HEIC", true},
               {std::nullopt, "a.heif", true},
               {std::nullopt, "A.HeIf", true},
               {"public.png", "x.png", false},
               {std::nullopt, "x.jpg", false},
               {std::nullopt, "heic.jpg", false},
               {std::nullopt, "x.heic.jpg", false},
               {std::nullopt, "xheic", false},
               {"", "x.hei", false}};
  for (const auto& c : cases) EXPECT_EQ(needsJpegConversion(c.type, c.name), c.convert) << c.name;

  EXPECT_EQ(convertedFileName("IMG_0042.HEIC"), "IMG_0042.jpg");
  EXPECT_EQ(convertedFileName("IMG_0008.JPG"), "IMG_0008.jpg");
  EXPECT_EQ(convertedFileName("Scan"), "Scan.jpg");
  EXPECT_EQ(convertedFileName("a.b.heif"), "a.b.jpg");
  EXPECT_EQ(convertedFileName(".heic"), ".heic.jpg");
  EXPECT_EQ(convertedFileName("name."), "name..jpg");
}

// ".." is the kernel's to resolve: after a symbolic link it leads into the
// link target's parent, so it is never removed as text.
TEST(AbsolutePath, PrefixesTheWorkingDirectoryAndKeepsParentSegments) {
  const struct {
    std::string path, working, expected;
  } cases[] = {{"", "/home/user", "/home/user"},
               {".", "/home/user", "/home/user"},
               {"out", "/home/user", "/home/user/out"},
               {"out/", "/home/user", "/home/user/out"},
               {"./a//b/./c/", "/home/user", "/home/user/a/b/c"},
               {"../x", "/home/user", "/home/user/../x"},
               {"link/../out", "/home/user", "/home/user/link/../out"},
               {"link/..", "/home/user/", "/home/user/link/.."},
               {"../../../../x", "/home/user", "/home/user/../../../../x"},
               {"/tmp//export/../photos/", "/ignored", "/tmp/export/../photos"},
               {"//", "/home", "/"},
               {"/", "/home", "/"},
               {"/..", "/home", "/.."},
               {"/././/", "/home", "/"},
               {"a/../..", "/home/user", "/home/user/a/../.."},
               {"dir with space/\xF0\x9F\x93\xB7", "/w", "/w/dir with space/\xF0\x9F\x93\xB7"},
               {"..hidden/...", "/w", "/w/..hidden/..."},
               // The working directory could not be determined: stays relative.
               {"out/../x", "", "out/../x"},
               {"./out/", "", "out"},
               {"..", "", ".."},
               {".", "", "."}};
  for (const auto& c : cases) EXPECT_EQ(absolutePath(c.path, c.working), c.expected) << c.path;
  EXPECT_EQ(appendingPathComponent("/", "a.jpg"), "/a.jpg");
  EXPECT_EQ(appendingPathComponent("/tmp/x", "a.jpg"), "/tmp/x/a.jpg");
}

TEST(MediaFormatsOnExport, ConversionRuleMatchesTheTable) {
  for (const MediaFormat& format : kMediaFormats) {
    const std::string type(format.typeIdentifier);
    const std::string name = "IMG_0001" + std::string(format.extension);
    EXPECT_EQ(needsJpegConversion(type, "IMG_0001"), format.convertedOnExport) << type;
    EXPECT_EQ(needsJpegConversion(std::nullopt, name), format.convertedOnExport) << name;
  }
}

}  // namespace
}  // namespace tolvek
