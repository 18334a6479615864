// The commands that hand out pictures: export (files in a folder) and
// thumbs (JPEG data URLs).
#include "commands/export_command.h"

#include <gtest/gtest.h>

#include <limits>

#include "commands/jpeg_data.h"
#include "commands/thumbs_command.h"
#include "support/in_memory_library.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using Names = std::vector<std::string>;

const std::string kDir = "/home/user/out";
const std::string kHeicData = fakePictureData({4032, 3024}, "heic-original");

struct ExportTest : InMemoryLibraryTest {
  ExportTest() : InMemoryLibraryTest(/*withFiles=*/true) {}
  FakePictureDecoder pictures;
  Services services{library, pictures, loop, clock, files};
  int counter = 0;

  // A picture asset whose original is `data` of type `type` under `name`.
  std::string picture(const std::string& name, std::optional<std::string> data,
                      std::optional<std::string> type = "public.jpeg", MediaType mediaType = MediaType::image) {
    const std::string id = "P" + std::to_string(counter++);
    library.addAsset(id, mediaType, 1000 + counter);
    library.addResource(id, ResourceType::photo, name);
    library.images().setData(id, std::move(data), std::move(type));
    return id;
  }
  std::string video(const std::string& name, WriteOutcome outcome = {}) {
    const std::string id = "V" + std::to_string(counter++);
    library.addAsset(id, MediaType::video, 1000 + counter);
    library.addResource(id, ResourceType::video, name, "com.apple.quicktime-movie", "movie bytes of " + id);
    library.setWriteOutcome(id, outcome);
    return id;
  }
  Document run(const std::vector<std::string>& ids, const std::string& dir = kDir) {
    const Document document = cmdExport(services, dir, ids);
    EXPECT_EQ(document.size(), 2u);
    EXPECT_TRUE(document.at("files").is_array());
    EXPECT_TRUE(document.at("errors").is_array());
    return document;
  }
  // The file names of "files", checked to lie directly in `dir`.
  static Names writtenNames(const Document& document, const std::string& dir = kDir) {
    Names names;
    for (const Document& file : document.at("files")) {
      EXPECT_EQ(file.size(), 2u);
      const std::string path = file.at("path");
      EXPECT_EQ(path.rfind(dir + "/", 0), 0u) << path;
      const std::string name = path.substr(dir.size() + 1);
      EXPECT_EQ(name.find('/'), std::string::npos) << path;
      names.push_back(name);
    }
    return names;
  }
  static Names errors(const Document& document) {
    Names texts;
    for (const Document& error : document.at("errors")) texts.push_back(error);
    return texts;
  }
};

TEST_F(ExportTest, NothingToExportStillCreatesTheFolder) {
  for (const std::vector<std::string>& ids : {std::vector<std::string>{}, std::vector<std::string>{"nothing", ""}}) {
    EXPECT_EQ(run(ids, "/home/user/a/b/c"), Document::parse(R"({"files":[],"errors":[]})"));
  }
  EXPECT_TRUE(files.isDirectory("/home/user/a/b/c"));
}

TEST_F(ExportTest, PicturesAreCopiedByteForByteWithIdAndAbsolutePath) {
  const std::string jpeg = "\xFF\xD8\xFF jpeg bytes \0 with a NUL";
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + fakePictureData({10, 10}, "png");
  const std::string a = picture("IMG_0001.JPG", jpeg);
  const std::string b = picture("Screenshot.png", png, "public.png");
  const Document document = run({b, a});
  EXPECT_EQ(document.at("files"), Document::parse(R"([{"id":")" + b + R"(","path":"/home/user/out/Screenshot.png"},
                                                      {"id":")" + a + R"(","path":"/home/user/out/IMG_0001.JPG"}])"));
  EXPECT_TRUE(errors(document).empty());
  EXPECT_EQ(files.contents(kDir + "/IMG_0001.JPG"), jpeg);
  EXPECT_EQ(files.contents(kDir + "/Screenshot.png"), png);
  // Nothing was decoded: only HEIC and HEIF are converted.
  EXPECT_EQ(pictures.decodeCalls(), 0u);
  for (const DataRequestRecord& request : library.images().dataRequests()) {
    EXPECT_TRUE(request.options.networkAccessAllowed);
  }
  EXPECT_EQ(library.calls().identifierLookups, 1u);
}

TEST_F(ExportTest, RepeatedAndCaseVariantNamesAreNumbered) {
  const std::string a = picture("IMG_0001.JPG", "a");
  const std::string b = picture("IMG_0001.JPG", "b");
  const std::string c = picture("img_0001.jpg", "c");
  const std::string s1 = picture("Scan", "s1");
  const std::string s2 = picture("Scan", "s2");
  const Document document = run({a, b, c, a, s1, s2, "missing"});
  EXPECT_EQ(writtenNames(document),
            (Names{"IMG_0001.JPG", "IMG_0001-2.JPG", "img_0001-3.jpg", "IMG_0001-4.JPG", "Scan", "Scan-2"}));
  EXPECT_EQ(files.contents(kDir + "/IMG_0001-4.JPG"), "a");
  EXPECT_EQ(files.contents(kDir + "/img_0001-3.jpg"), "c");
  EXPECT_EQ(document.at("files")[3].at("id"), a);
}

TEST_F(ExportTest, HeicAndHeifBecomeJpegKeepingCaptureData) {
  const std::string jpg = picture("IMG_0005.jpg", "plain jpeg");
  const std::string heic = picture("IMG_0005.HEIC", kHeicData, "public.heic");
  const std::string named = picture("IMG_0006.HEIC", kHeicData, "public.jpeg");
  const std::string typed = picture("IMG_0008.JPG", kHeicData, "public.heic");
  const std::string heif = picture("burst.heif", kHeicData, std::nullopt);
  const std::string bare = picture("Scan", kHeicData, "public.heif");
  const Document document = run({jpg, heic, named, typed, heif, bare});
  EXPECT_EQ(writtenNames(document),
            (Names{"IMG_0005.jpg", "IMG_0005-2.jpg", "IMG_0006.jpg", "IMG_0008.jpg", "burst.jpg", "Scan.jpg"}));
  const std::string converted = fakeJpeg({4032, 3024}, "heic-original", 0.92, JpegMetadata::keepCaptureData);
  for (const char* name : {"IMG_0005-2.jpg", "IMG_0006.jpg", "IMG_0008.jpg", "burst.jpg", "Scan.jpg"}) {
    EXPECT_EQ(files.contents(kDir + "/" + name), converted) << name;
  }
  EXPECT_EQ(files.contents(kDir + "/IMG_0005.jpg"), "plain jpeg");
}

TEST_F(ExportTest, FailedConversionWritesTheDataUnchanged) {
  const std::string corrupt = picture("IMG_0010.HEIC", "not a picture at all", "public.heic");
  const std::string noBitmap =
      picture("IMG_0011.HEIC", fakePictureData({10, 10}, "x", FakeBitmapMode::noBitmap), "public.heic");
  const std::string noEncoding =
      picture("IMG_0012.HEIF", fakePictureData({10, 10}, "y", FakeBitmapMode::encodeFails), "public.heif");
  const std::string again = picture("IMG_0010.HEIC", "also corrupt", "public.heic");
  const Document document = run({corrupt, noBitmap, noEncoding, again});
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0010.HEIC", "IMG_0011.HEIC", "IMG_0012.HEIF", "IMG_0010-2.HEIC"}));
  EXPECT_TRUE(errors(document).empty());
  EXPECT_EQ(files.contents(kDir + "/IMG_0010.HEIC"), "not a picture at all");
  EXPECT_EQ(files.contents(kDir + "/IMG_0012.HEIF"), fakePictureData({10, 10}, "y", FakeBitmapMode::encodeFails));
}

TEST_F(ExportTest, PictureNotHandedOverReservesNoName) {
  const std::string missing = picture("IMG_0020.JPG", std::nullopt, std::nullopt);
  const std::string present = picture("IMG_0020.JPG", "bytes");
  const std::string empty = picture("empty.jpg", std::string());
  const Document document = run({missing, present, empty});
  EXPECT_EQ(errors(document), (Names{"IMG_0020.JPG: Photos could not hand over the picture"}));
  // The handed-over empty original is a file like any other.
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0020.JPG", "empty.jpg"}));
  EXPECT_EQ(files.contents(kDir + "/empty.jpg"), "");
}

TEST_F(ExportTest, OtherMediaTypesTakeThePicturePath) {
  const std::string audio = picture("memo.m4a", "audio bytes", "com.apple.m4a-audio", MediaType::audio);
  const std::string unknown = picture("thing.bin", "unknown bytes", std::nullopt, MediaType::unknown);
  const std::string silent = picture("song.mp3", std::nullopt, std::nullopt, MediaType::audio);
  const Document document = run({audio, unknown, silent});
  EXPECT_EQ(writtenNames(document), (Names{"memo.m4a", "thing.bin"}));
  EXPECT_EQ(errors(document), (Names{"song.mp3: Photos could not hand over the picture"}));
  EXPECT_EQ(library.images().dataRequests().size(), 3u);
  EXPECT_TRUE(library.resources().writes().empty());
}

TEST_F(ExportTest, WriteErrorsAreReportedAndTheNameStaysReserved) {
  const std::string first = picture("IMG_0030.JPG", "first");
  const std::string second = picture("IMG_0030.JPG", "second");
  files.failWritesWith("Read-only file system");
  Document document = run({first});
  EXPECT_EQ(errors(document), (Names{"IMG_0030.JPG: Read-only file system"}));
  EXPECT_TRUE(writtenNames(document).empty());

  // In one run: a failed write keeps its name reserved.
  files.failWritesWith(std::nullopt);
  files.setCapacity(8);
  const std::string big = picture("IMG_0030.JPG", "far more than eight bytes");
  document = run({big, second});
  EXPECT_EQ(errors(document), (Names{"IMG_0030.JPG: No space left on device"}));
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0030-2.JPG"}));
  EXPECT_EQ(files.contents(kDir + "/IMG_0030.JPG"), std::nullopt);
}

TEST_F(ExportTest, FolderThatCannotBeCreatedShowsInEachWrite) {
  files.addFile("/home/user/taken", "a file, not a folder");
  const std::string a = picture("a.jpg", "a");
  const std::string v = video("clip.mov");
  const std::string none = picture("b.jpg", std::nullopt);
  const Document document = run({a, v, none}, "/home/user/taken/sub");
  EXPECT_EQ(errors(document), (Names{"a.jpg: No such file or directory", "clip.mov: No such file or directory",
                                     "b.jpg: Photos could not hand over the picture"}));
  EXPECT_EQ(files.contents("/home/user/taken"), "a file, not a folder");
}

TEST_F(ExportTest, FilesFromAnEarlierRunNeverCount) {
  files.addFile(kDir + "/IMG_0040.JPG", "earlier picture");
  files.addSymlink(kDir + "/IMG_0041.JPG", "/etc/passwd");
  files.addFile(kDir + "/clip.mov", "earlier video");
  const std::string a = picture("IMG_0040.JPG", "new picture");
  const std::string b = picture("IMG_0041.JPG", "through a link?");
  const std::string v = video("clip.mov");
  const Document document = run({a, b, v});
  // Pictures replace the file (or the link itself) of that name.
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0040.JPG", "IMG_0041.JPG"}));
  EXPECT_EQ(files.contents(kDir + "/IMG_0040.JPG"), "new picture");
  EXPECT_EQ(files.contents(kDir + "/IMG_0041.JPG"), "through a link?");
  EXPECT_FALSE(files.isSymlink(kDir + "/IMG_0041.JPG"));
  // The resource write refuses an existing file; that is reported like any error.
  EXPECT_EQ(errors(document), (Names{"clip.mov: File exists"}));
  EXPECT_EQ(files.contents(kDir + "/clip.mov"), "earlier video");
}

// "path" names the file as written: ".." stays for the kernel to resolve.
TEST_F(ExportTest, FolderPathIsAbsoluteAndKeepsParentSegments) {
  const struct {
    std::string dir, folder;
  } cases[] = {{"", "/home/user"},
               {"out", "/home/user/out"},
               {"./x//y/../z/", "/home/user/x/y/../z"},
               {"link/../out", "/home/user/link/../out"},
               {"/tmp//e/./", "/tmp/e"},
               {"/", "/"},
               {"../../../..", "/home/user/../../../.."}};
  for (const auto& c : cases) {
    const std::string id = picture("p.jpg", "p");
    const Document document = run({id}, c.dir);
    ASSERT_EQ(document.at("files").size(), 1u) << c.dir;
    EXPECT_EQ(document.at("files")[0].at("path"), c.folder == "/" ? "/p.jpg" : c.folder + "/p.jpg");
    EXPECT_EQ(files.directoryRequests().back(), c.folder);
    EXPECT_EQ(files.contents(c.folder == "/" ? "/p.jpg" : c.folder + "/p.jpg"), "p");
  }
}

// A working directory whose name is not UTF-8 could not be reported in
// "path": nothing is created or written, and each asset gets one error.
TEST_F(ExportTest, AFolderPathThatIsNotUtf8WritesNothing) {
  const std::string a = picture("IMG_0001.JPG", "a");
  const std::string v = video("clip.mov");
  const std::string b = picture("Été.png", "b", "public.png");
  files.setCurrentDirectory("/home/caf\xE9");
  for (const std::string& dir : {std::string("out"), std::string(""), std::string(".")}) {
    const Document document = run({a, v, b, "nothing"}, dir);
    EXPECT_EQ(document.at("files"), Document::array()) << dir;
    EXPECT_EQ(errors(document), (Names{"IMG_0001.JPG: the folder's path is not valid UTF-8",
                                       "clip.mov: the folder's path is not valid UTF-8",
                                       "Été.png: the folder's path is not valid UTF-8"}))
        << dir;
  }
  EXPECT_EQ(files.directoryRequests(), Names{});
  EXPECT_EQ(files.replaceCalls(), 0u);
  EXPECT_EQ(files.filePaths(), Names{});

  // An absolute folder does not depend on the working directory.
  const Document elsewhere = run({a}, kDir);
  EXPECT_EQ(writtenNames(elsewhere), Names{"IMG_0001.JPG"});
  EXPECT_EQ(errors(elsewhere), Names{});
}

TEST_F(ExportTest, NamesThatWouldEscapeTheFolderAreCleaned) {
  const std::string up = picture("../../.bashrc", "up");
  const std::string deep = picture("sub/dir/IMG.HEIC", kHeicData, "public.heic");
  const std::string dot = picture(".", "dot");
  const std::string dotdot = video("..");
  const std::string nul = picture(std::string("a\0b.jpg", 7), "nul");
  const std::string dotdot2 = picture("..", "dotdot");
  const std::string emoji = picture("\xF0\x9F\x8C\x85 sunset.jpg", "emoji");
  const Document document = run({up, deep, dot, dotdot, nul, dotdot2, emoji});
  EXPECT_EQ(writtenNames(document), (Names{".._.._.bashrc", "sub_dir_IMG.jpg", "photo.jpg", "video.mov", "a_b.jpg",
                                           "photo-2.jpg", "\xF0\x9F\x8C\x85 sunset.jpg"}));
  for (const std::string& path : files.filePaths()) EXPECT_EQ(path.rfind(kDir + "/", 0), 0u) << path;
  EXPECT_TRUE(errors(document).empty());
}

TEST_F(ExportTest, ErrorsCarryTheNameAsTheLibraryGaveIt) {
  files.failWritesWith("Permission denied");
  const std::string a = picture("x/../y.HEIC", kHeicData, "public.heic");
  const std::string b = picture(std::string("n\0l.jpg", 7), "b");
  const Document document = run({a, b});
  EXPECT_EQ(errors(document),
            (Names{"x/../y.HEIC: Permission denied", std::string("n\0l.jpg", 7) + ": Permission denied"}));
}

TEST_F(ExportTest, LeadingAndTrailingDotsAreNumberedAtTheEnd) {
  const std::string a = picture(".hidden", "1");
  const std::string b = picture(".hidden", "2");
  const std::string c = picture("name.", "3");
  const std::string d = picture("name.", "4");
  EXPECT_EQ(writtenNames(run({a, b, c, d})), (Names{".hidden", ".hidden-2", "name.", "name.-2"}));
}

TEST_F(ExportTest, LongNamesFitTheFileSystem) {
  const std::string name = std::string(251, 'L') + ".jpg";
  const std::string a = picture(name, "1");
  const std::string b = picture(name, "2");
  const std::string c = picture(std::string(400, 'M') + ".HEIC", kHeicData, "public.heic");
  EXPECT_EQ(writtenNames(run({a, b, c})),
            (Names{name, std::string(249, 'L') + "-2.jpg", std::string(251, 'M') + ".jpg"}));
}

TEST_F(ExportTest, UnicodeNamesCollideWithoutRegardToCase) {
  const std::string a = picture("\xC3\x89T\xC3\x89.jpg", "1");  // ÉTÉ.jpg
  const std::string b = picture("\xC3\xA9t\xC3\xA9.JPG", "2");  // été.JPG
  const std::string c = picture("STRA\xE1\xBA\x9E" "E.HEIC", kHeicData, "public.heic");
  const std::string d = picture("stra\xC3\x9F" "e.jpg", "4");
  EXPECT_EQ(writtenNames(run({a, b, c, d})),
            (Names{"\xC3\x89T\xC3\x89.jpg", "\xC3\xA9t\xC3\xA9-2.JPG", "STRA\xE1\xBA\x9E" "E.jpg",
                   "stra\xC3\x9F" "e-2.jpg"}));
}

TEST_F(ExportTest, VideoIsWrittenByTheResourceWriteWithNetworkAccess) {
  const std::string v = video("IMG_0100.MOV");
  EXPECT_EQ(writtenNames(run({v})), (Names{"IMG_0100.MOV"}));
  EXPECT_EQ(files.contents(kDir + "/IMG_0100.MOV"), "movie bytes of " + v);
  const auto writes = library.resources().writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].options.networkAccessAllowed);
  EXPECT_EQ(writes[0].path, kDir + "/IMG_0100.MOV");
  EXPECT_TRUE(library.images().dataRequests().empty());
  // Completed before the write call returned: no slice was run.
  EXPECT_EQ(loop.slices(), 0u);
}

TEST_F(ExportTest, VideoResourceChoiceAndMissingResources) {
  library.addAsset("adjusted", MediaType::video, 5);
  library.addResource("adjusted", static_cast<ResourceType>(16), "Adjustments.plist", "", "plist bytes");
  library.addResource("adjusted", ResourceType::video, "IMG_0200.MOV", "", "video bytes");
  library.addAsset("other", MediaType::video, 6);
  library.addResource("other", ResourceType::photo, "still.JPG", "", "first resource bytes");
  library.addResource("other", static_cast<ResourceType>(16), "x.plist", "", "second resource bytes");
  library.addAsset("bare", MediaType::video, 7);
  library.addAsset("bare2", MediaType::video, 8);
  library.addResource("bare2", ResourceType::video, "", "", "unnamed video bytes");
  const Document document = run({"adjusted", "other", "bare", "bare2"});
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0200.MOV", "still.JPG", "video.mov"}));
  EXPECT_EQ(files.contents(kDir + "/IMG_0200.MOV"), "video bytes");
  EXPECT_EQ(files.contents(kDir + "/still.JPG"), "first resource bytes");
  EXPECT_EQ(files.contents(kDir + "/video.mov"), "unnamed video bytes");
  // No resources: reported, and no name reserved ("video.mov" stayed free).
  EXPECT_EQ(errors(document), (Names{"video.mov: no video file in Photos"}));
}

TEST_F(ExportTest, VideoCompletionDuringTheWaitOnTheMainLoopOrAnotherThread) {
  const std::string slice = video("a.mov", {WriteOutcome::When::duringSlice, 42, std::nullopt});
  const std::string thread = video("b.mov", {WriteOutcome::When::fromThread, 599, std::nullopt});
  const std::string failing = video("c.mov", {WriteOutcome::When::fromThread, 3, "The server answered 404"});
  const std::string failingNow = video("d.mov", {WriteOutcome::When::beforeReturn, 0, "Connection refused"});
  const double start = clock.now();
  const Document document = run({slice, thread, failing, failingNow});
  EXPECT_EQ(writtenNames(document), (Names{"a.mov", "b.mov"}));
  EXPECT_EQ(errors(document), (Names{"c.mov: The server answered 404", "d.mov: Connection refused"}));
  EXPECT_NEAR(clock.now(), start + 42 + 599 + 3, 1e-6);
  EXPECT_LE(loop.longestSlice(), 0.05);
}

TEST_F(ExportTest, VideoThatNeverCompletesTimesOutAndItsNameStaysReserved) {
  const std::string stuck = video("IMG_0300.MOV", {WriteOutcome::When::never, 0, std::nullopt});
  const std::string late = video("IMG_0300.MOV", {WriteOutcome::When::duringSlice, 700, std::nullopt});
  const std::string next = video("IMG_0300.MOV");
  const double start = clock.now();
  const Document document = run({stuck, late, next});
  const std::string timeout = "IMG_0300.MOV: did not finish downloading from iCloud in 10 minutes";
  EXPECT_EQ(errors(document), (Names{timeout, timeout}));
  EXPECT_EQ(writtenNames(document), (Names{"IMG_0300-3.MOV"}));
  // Two waits of 600 s, each ending at most one slice after its deadline.
  EXPECT_GE(clock.now(), start + 1200);
  EXPECT_LE(clock.now(), start + 1200 + 2 * 0.05 + 1e-6);
  EXPECT_EQ(library.resources().heldCompletions(), 1u);

  // The late completion arrives after the command has returned: it writes
  // into state that outlived the command and the file it wrote stays put.
  EXPECT_EQ(loop.pendingWork(), 1u);
  loop.runUntil(start + 1400);
  EXPECT_EQ(loop.pendingWork(), 0u);
  EXPECT_EQ(files.contents(kDir + "/IMG_0300-2.MOV"), "movie bytes of " + late);
}

TEST_F(ExportTest, LateCompletionFromAnotherThreadAfterTheCommand) {
  const std::string late = video("z.mov", {WriteOutcome::When::fromThread, 650, "too late"});
  const std::string picture1 = picture("z.mov", "a picture with the same name");
  const Document document = run({late, picture1});
  EXPECT_EQ(errors(document), (Names{"z.mov: did not finish downloading from iCloud in 10 minutes"}));
  EXPECT_EQ(writtenNames(document), (Names{"z-2.mov"}));
  loop.runUntil(clock.now() + 100);
  EXPECT_EQ(loop.pendingWork(), 0u);
}

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

using testing::bytesFromDataUrl;

TEST(JpegDataUrl, StandardPaddedBase64OnOneLine) {
  const struct {
    std::string bytes;
    std::string base64;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foobar", "Zm9vYmFy"},
               {std::string("\xfb\xff\xbf", 3), "+/+/"},
               {std::string("\0\0\0", 3), "AAAA"},
               {std::string("\xff\xd8\xff", 3), "/9j/"}};
  for (const auto& c : cases) EXPECT_EQ(jpegDataUrl(c.bytes), "data:image/jpeg;base64," + c.base64);
  std::string large(100'000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  const std::string url = jpegDataUrl(large);
  EXPECT_EQ(url.find('\n'), std::string::npos);
  EXPECT_EQ(bytesFromDataUrl(url), large);
}

TEST(JpegData, NothingAtEachFailingStep) {
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t"), 0.8), fakeJpeg({640, 480}, "t", 0.8, JpegMetadata::none));
  EXPECT_EQ(jpegData(FakePicture({3, 2}, "t"), 0.92, JpegMetadata::keepCaptureData),
            fakeJpeg({3, 2}, "t", 0.92, JpegMetadata::keepCaptureData));
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t", FakeBitmapMode::noBitmap), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({640, 480}, "t", FakeBitmapMode::encodeFails), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({0, 480}, "t"), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({640, 0}, "t"), 0.8), std::nullopt);
  EXPECT_EQ(jpegData(FakePicture({-1, -1}, "t"), 0.8), std::nullopt);
}

struct ThumbsTest : InMemoryLibraryTest {
  InMemoryImageManager& images = library.images();
};

TEST_F(ThumbsTest, SideIsBoundedAndOneSetOfOptionsServesTheRun) {
  library.addAsset("a", MediaType::image, 1);
  images.setPicture("a", {320, 240});
  const struct {
    std::int64_t size;
    std::int64_t side;
  } cases[] = {{kMin, 64}, {-1, 64},     {0, 64},      {63, 64},     {64, 64},    {65, 65},
               {240, 240}, {1023, 1023}, {1024, 1024}, {1025, 1024}, {kMax, 1024}};
  for (const auto& c : cases) {
    cmdThumbs(library, c.size, {"a"});
    const ImageRequestRecord& request = images.imageRequests().back();
    EXPECT_EQ(request.targetSize, (PixelSize{c.side, c.side})) << c.size;
    EXPECT_EQ(request.contentMode, ContentMode::aspectFill);
    EXPECT_TRUE(request.options.networkAccessAllowed);
  }
}

TEST_F(ThumbsTest, EachDeliveredPictureBecomesAJpegDataUrlKeyedByItsIdentifier) {
  library.addAsset("photo/L0/001", MediaType::image, 1);
  library.addAsset("clip", MediaType::video, 2);
  library.addAsset("odd \"id\" \xF0\x9F\x93\xB7", MediaType::unknown, 3);
  images.setPicture("photo/L0/001", {320, 240});
  images.setPicture("clip", {240, 426});
  images.setPicture("odd \"id\" \xF0\x9F\x93\xB7", {240, 240});
  const Document document = cmdThumbs(library, 240, {"clip", "odd \"id\" \xF0\x9F\x93\xB7", "photo/L0/001"});
  ASSERT_EQ(document.size(), 1u);
  const Document& thumbs = document.at("thumbs");
  ASSERT_TRUE(thumbs.is_object());
  ASSERT_EQ(thumbs.size(), 3u);
  // Encoded from the delivered picture at its own size, quality 0.8, bare.
  EXPECT_EQ(bytesFromDataUrl(thumbs.at("photo/L0/001")), fakeJpeg({320, 240}, "photo/L0/001", 0.8, JpegMetadata::none));
  EXPECT_EQ(bytesFromDataUrl(thumbs.at("clip")), fakeJpeg({240, 426}, "clip", 0.8, JpegMetadata::none));
  EXPECT_EQ(bytesFromDataUrl(thumbs.at("odd \"id\" \xF0\x9F\x93\xB7")),
            fakeJpeg({240, 240}, "odd \"id\" \xF0\x9F\x93\xB7", 0.8, JpegMetadata::none));
  // One request at a time, in the caller's order, after one identifier query.
  Names requested;
  for (const auto& request : images.imageRequests()) requested.push_back(request.assetId);
  EXPECT_EQ(requested, (Names{"clip", "odd \"id\" \xF0\x9F\x93\xB7", "photo/L0/001"}));
  EXPECT_EQ(library.calls().identifierLookups, 1u);
}

TEST_F(ThumbsTest, AssetsThatFailAreLeftOutAndTheRestComeOut) {
  library.addAssets({{"good", MediaType::image, 1}, {"no-picture", MediaType::image, 2}, {"song", MediaType::audio, 3},
                     {"no-bitmap", MediaType::image, 4}, {"no-encoding", MediaType::image, 5},
                     {"empty-size", MediaType::image, 6}, {"good-too", MediaType::video, 7}});
  library.addCollection("album", CollectionType::album, "A");
  images.setPicture("good", {100, 100});
  images.setPicture("no-bitmap", {100, 100}, FakeBitmapMode::noBitmap);
  images.setPicture("no-encoding", {100, 100}, FakeBitmapMode::encodeFails);
  images.setPicture("empty-size", {0, 0});
  images.setPicture("good-too", {90, 160});
  const Document thumbs = cmdThumbs(library, 240,
                                    {"", "good", "no-picture", "song", "album", "missing", "no-bitmap", "no-encoding",
                                     "empty-size", "good-too", "good", std::string(100 * 1024, 'x')})
                              .at("thumbs");
  std::vector<std::string> keys;
  for (const auto& [key, value] : thumbs.items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (Names{"good", "good-too"}));
  // The duplicate was requested again and still gives one member.
  EXPECT_EQ(images.imageRequests().size(), 8u);
}

TEST_F(ThumbsTest, NothingToRenderGivesAnEmptyObject) {
  library.addAsset("song", MediaType::audio, 1);
  EXPECT_EQ(cmdThumbs(library, 240, {}).dump(), R"({"thumbs":{}})");
  EXPECT_EQ(cmdThumbs(library, 240, {"song", "nothing"}).dump(), R"({"thumbs":{}})");
}

TEST_F(ThumbsTest, ALaterDeliveryReplacesAnEarlierOne) {
  library.addAsset("a", MediaType::image, 1);
  images.setPicture("a", {480, 240}, FakeBitmapMode::ok, /*placeholderFirst=*/true);
  const Document thumbs = cmdThumbs(library, 240, {"a"}).at("thumbs");
  EXPECT_EQ(bytesFromDataUrl(thumbs.at("a")), fakeJpeg({480, 240}, "a", 0.8, JpegMetadata::none));
}

}  // namespace
}  // namespace tolvek
