// `export` of the built helper on a real library: JPEG, PNG and videos copied
// byte for byte, HEIC and HEIF converted to upright JPEG that keeps its
// capture date, unique names, absolute normalised paths, folders that cannot
// be written, originals downloaded from a server, and nothing written outside
// the folder.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "support/catalog_fixture.h"
#include "support/http_test_server.h"
#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string samplesDir() { return TOLVEK_SAMPLES_DIR; }
bool haveSamples() { return fs::is_directory(samplesDir()); }

struct Library {
  ScratchLibrary scratch;
  std::string src;
  std::string jpeg, png, heic, video, mov;
  std::string offloadedPicture, offloadedVideo, missingPicture, missingVideo;
  std::string escapes, dots;  // names from the catalog that would leave the folder
  std::string longName, emoji;  // a 255-byte file name, a name outside ASCII
  std::string longFileName = std::string(251, 'n') + ".jpg";
  std::unique_ptr<HttpTestServer> server;

  void build() {
    ScratchLibrary& s = scratch;
    src = s.work("src");
    const std::vector<std::pair<std::string*, std::string>> files = {
        {&jpeg,
         s.picture("IMG_0001.JPG", "jpeg", {.width = 320, .height = 240, .dateTimeOriginal = "2020:02:02 10:00:00"})},
        {&png, s.picture("drawing.png", "png", {.width = 200, .height = 100})},
        {&heic,
         s.picture("IMG_0002.HEIC", "heic", {.width = 400, .height = 300, .dateTimeOriginal = "2021:06:07 08:09:10"})},
        {&video, s.video("clip.mp4", {.width = 160, .height = 120, .withAudio = true})},
        {&mov, s.video("movie.mov", {.container = "mov"})},
        {&offloadedPicture, s.picture("remote/cloud.jpg", "jpeg", {.width = 120, .height = 90})},
        {&offloadedVideo, s.video("remote/cloud.mp4")},
        {&missingPicture, s.picture("remote/gone.jpg", "jpeg")},
        {&missingVideo, s.video("remote/gone.mp4")},
        {&escapes, s.picture("remote/escape.jpg", "jpeg")},
        {&dots, s.picture("remote/dots.jpg", "jpeg")},
        {&longName, s.picture(longFileName, "jpeg")},
        {&emoji, s.picture("Été 🌅.png", "png")}};
    ASSERT_FALSE(::testing::Test::HasFailure()) << "the source files could not be made";
    s.importInto(files);

    // Offloading checks that the URL serves the original; the two "gone" ones
    // are gone from the server only afterwards.
    server = std::make_unique<HttpTestServer>(std::chrono::seconds(600));
    const std::vector<std::pair<std::string, std::string>> offloads = {{offloadedPicture, "/cloud.jpg"},
                                                                       {offloadedVideo, "/cloud.mp4"},
                                                                       {missingPicture, "/gone.jpg"},
                                                                       {missingVideo, "/gone.mp4"}};
    for (const auto& [id, path] : offloads) {
      server->serve(path, HttpPlan{.body = *readFileBytes(*s.originalPath(id))});
      s.tool({"offload", id, server->url(path)});
    }
    server->serve("/gone.jpg", HttpPlan{.body = "", .behaviour = HttpBehaviour::notFound});
    server->serve("/gone.mp4", HttpPlan{.body = "", .behaviour = HttpBehaviour::notFound});

    // File names are the library's data, not to be trusted: two assets whose
    // recorded names would lead out of the export folder.
    auto catalog = CatalogFixture::open(s.catalogPath());
    ASSERT_TRUE(catalog) << catalog.message();
    ASSERT_TRUE(catalog->setOriginalFilename(escapes, "../../escaped.jpg").ok());
    ASSERT_TRUE(catalog->setOriginalFilename(dots, "..").ok());
    s.grantAccess();
  }
};

class Export : public SharedLibraryTest<Library> {
 protected:
  struct Exported {
    std::vector<std::pair<std::string, std::string>> files;  // id, path
    std::vector<std::string> errors;
    Names paths() const {
      Names all;
      for (const auto& file : files) all.push_back(file.second);
      return all;
    }
  };
  static Exported exportTo(const std::string& dir, const std::vector<std::string>& ids,
                           const std::string& workingDirectory = {}) {
    const Json document = lib_->scratch.run({"export", dir, joinIds(ids)}, 0, {}, workingDirectory);
    Exported result;
    if (!document.contains("files") || !document.contains("errors") || document.size() != 2 ||
        !document["files"].is_array() || !document["errors"].is_array()) {
      ADD_FAILURE() << "not an export document: " << document.dump().substr(0, 400);
      return result;
    }
    for (const Json& file : document["files"]) {
      EXPECT_EQ(file.size(), 2u) << file.dump();
      result.files.emplace_back(file.value("id", ""), file.value("path", ""));
    }
    for (const Json& error : document["errors"]) result.errors.push_back(error.get<std::string>());
    return result;
  }
  // Every regular file below `folder`, relative to it.
  static std::set<std::string> filesBelow(const std::string& folder) {
    std::set<std::string> found;
    for (const std::string& path : treeOf(folder))
      if (!fs::is_directory(path)) found.insert(fs::relative(path, folder).string());
    return found;
  }
  // One error per name, in order, each "<name>: " and a reason.
  static ::testing::AssertionResult oneErrorEach(const std::vector<std::string>& errors,
                                                 const std::vector<std::string>& names) {
    if (errors.size() != names.size()) return ::testing::AssertionFailure() << errors.size() << " errors";
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!errors[i].starts_with(names[i] + ": ") || errors[i].size() <= names[i].size() + 2) {
        return ::testing::AssertionFailure() << "error " << i << ": " << errors[i];
      }
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(Export, JpegPngAndVideosAreCopiedByteForByte) {
  const std::string dir = lib_->scratch.work("plain");
  const Exported out = exportTo(dir, {lib_->jpeg, lib_->png, lib_->video, lib_->mov});
  EXPECT_TRUE(out.errors.empty()) << out.errors.front();
  ASSERT_EQ(out.files.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {lib_->jpeg, "IMG_0001.JPG"}, {lib_->png, "drawing.png"}, {lib_->video, "clip.mp4"}, {lib_->mov, "movie.mov"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(out.files[i].first, expected[i].first);
    EXPECT_EQ(out.files[i].second, dir + "/" + expected[i].second);
    EXPECT_EQ(readFileBytes(out.files[i].second), readFileBytes(lib_->src + "/" + expected[i].second))
        << expected[i].second;
  }
  EXPECT_EQ(filesBelow(dir), (std::set<std::string>{"IMG_0001.JPG", "drawing.png", "clip.mp4", "movie.mov"}));
}

TEST_F(Export, HeicBecomesAnUprightJpegThatKeepsItsCaptureDate) {
  const std::string dir = lib_->scratch.work("heic");
  const Exported out = exportTo(dir, {lib_->heic});
  EXPECT_TRUE(out.errors.empty());
  ASSERT_EQ(out.paths(), Names{dir + "/IMG_0002.jpg"});
  const std::string jpeg = readFileBytes(out.files[0].second).value_or("");
  EXPECT_TRUE(jpeg.starts_with("\xFF\xD8\xFF"));
  EXPECT_TRUE(hasPictureSize(jpeg, 400, 300));
  EXPECT_TRUE(showsUprightMarker(jpeg));
  const auto date = pictureMetadata(jpeg, "exif-ifd2-DateTimeOriginal");
  ASSERT_TRUE(date) << "the capture date is lost";
  EXPECT_TRUE(date->starts_with("2021:06:07 08:09:10")) << *date;
}

TEST_F(Export, RealPhoneHeicAndHeifBecomeDecodableJpeg) {
  if (!haveSamples()) GTEST_SKIP() << "no samples at " << samplesDir();
  // Imported here, so that only this test depends on the samples.
  const auto ids = lib_->scratch.import({samplesDir() + "/heif/iphone_13_pro_max.HEIC",
                                         samplesDir() + "/heif/samplefilehub.heif",
                                         samplesDir() + "/orientation/landscape_6.jpg"});
  ASSERT_FALSE(::testing::Test::HasFailure()) << "the library tool could not import the samples";
  const std::string dir = lib_->scratch.work("samples");
  const Exported out = exportTo(dir, ids);
  EXPECT_TRUE(out.errors.empty()) << out.errors.front();
  ASSERT_EQ(out.paths(), (Names{dir + "/iphone_13_pro_max.jpg", dir + "/samplefilehub.jpg", dir + "/landscape_6.jpg"}));

  const std::string phone = readFileBytes(out.files[0].second).value_or("");
  EXPECT_TRUE(hasPictureSize(phone, 3024, 4032)) << "the converted phone picture";
  const auto date = pictureMetadata(phone, "exif-ifd2-DateTimeOriginal");
  ASSERT_TRUE(date) << "the capture date is lost";
  EXPECT_TRUE(date->starts_with("2022:02:16 12:55:41")) << *date;
  EXPECT_EQ(pictureOrientation(phone), 1) << "the pixels are upright, so the tag says so";

  const std::string heif = readFileBytes(out.files[1].second).value_or("");
  EXPECT_TRUE(hasPictureSize(heif, 640, 426));
  EXPECT_TRUE(heif.starts_with("\xFF\xD8\xFF"));

  // A JPEG is never converted, whatever its orientation tag.
  EXPECT_EQ(readFileBytes(out.files[2].second), readFileBytes(samplesDir() + "/orientation/landscape_6.jpg"));
}

TEST_F(Export, RepeatedAndCollidingNamesAreNumbered) {
  const std::string dir = lib_->scratch.work("repeated");
  const Exported out = exportTo(dir, {lib_->jpeg, lib_->jpeg, lib_->video, lib_->jpeg, lib_->video, "nothing"});
  EXPECT_TRUE(out.errors.empty());
  EXPECT_EQ(out.paths(), (Names{dir + "/IMG_0001.JPG", dir + "/IMG_0001-2.JPG", dir + "/clip.mp4",
                                dir + "/IMG_0001-3.JPG", dir + "/clip-2.mp4"}));
  for (const auto& [id, path] : out.files) EXPECT_TRUE(fs::is_regular_file(path)) << path;
  // A second run does not count the files already there: same names, replaced.
  EXPECT_EQ(exportTo(dir, {lib_->jpeg}).paths(), Names{dir + "/IMG_0001.JPG"});
  EXPECT_EQ(filesBelow(dir).size(), 5u);
}

TEST_F(Export, RelativeAndEmptyFoldersGiveAbsoluteNormalisedPaths) {
  const std::string base = lib_->scratch.work("relative");
  fs::create_directories(base + "/sub");
  const std::string canonicalBase = fs::canonical(base).string();
  const struct {
    std::string dir, workingDirectory, reported, written;
  } cases[] = {
      {"./a//b/../c/./", base + "/sub", canonicalBase + "/sub/a/b/../c/drawing.png", base + "/sub/a/c/drawing.png"},
      {"../up", base + "/sub", canonicalBase + "/sub/../up/drawing.png", base + "/up/drawing.png"},
      {"", base + "/sub", canonicalBase + "/sub/drawing.png", base + "/sub/drawing.png"},
      {base + "//sub/./x/", "", base + "/sub/x/drawing.png", base + "/sub/x/drawing.png"}};
  for (const auto& c : cases) {
    EXPECT_EQ(exportTo(c.dir, {lib_->png}, c.workingDirectory).paths(), Names{c.reported}) << c.dir;
    EXPECT_TRUE(fs::is_regular_file(c.written)) << c.dir;
  }
}

// "link/../out" goes through the link: the kernel writes beside the link's
// target, and "path" names that very file, not one beside the link.
TEST_F(Export, ParentSegmentsAfterALinkLeadWhereThePathSays) {
  const std::string base = lib_->scratch.work("through-link");
  fs::create_directories(base + "/cwd");
  fs::create_directories(base + "/target/deep");
  fs::create_symlink(base + "/target/deep", base + "/cwd/link");
  const Exported out = exportTo("link/../out", {lib_->png}, base + "/cwd");
  const std::string reported = fs::canonical(base).string() + "/cwd/link/../out/drawing.png";
  ASSERT_EQ(out.paths(), Names{reported}) << "errors: " << out.errors.size();
  EXPECT_TRUE(fs::is_regular_file(reported));
  EXPECT_TRUE(fs::is_regular_file(base + "/target/out/drawing.png"));
  EXPECT_FALSE(fs::exists(base + "/cwd/out"));
  EXPECT_EQ(fs::canonical(reported), fs::canonical(base + "/target/out/drawing.png"));
}

TEST_F(Export, AWorkingDirectoryNamedInAnotherEncodingWritesNothing) {
  const std::string latin1 = lib_->scratch.folder("caf\xE9");
  const Json document = lib_->scratch.run({"export", "out", joinIds({lib_->jpeg, lib_->video})}, 0, {}, latin1);
  EXPECT_EQ(document, Json({{"files", Json::array()},
                            {"errors", {"IMG_0001.JPG: the folder's path is not valid UTF-8",
                                        "clip.mp4: the folder's path is not valid UTF-8"}}}));
  EXPECT_TRUE(fs::is_empty(latin1));
}

TEST_F(Export, AFolderThatCannotBeWrittenGivesOneErrorPerAsset) {
  const std::string file = lib_->scratch.work("a-file");
  ASSERT_TRUE(writeFileBytes(file, "not a folder"));
  // A file in the way, a folder below a file, and a file system that takes no
  // new folders (root can write anywhere else).
  for (const std::string& dir : {file, file + "/below", std::string("/proc/tolvek-e2e-unwritable")}) {
    const Exported out = exportTo(dir, {lib_->jpeg, lib_->heic, lib_->video, "nothing"});
    EXPECT_TRUE(out.files.empty()) << dir;
    ASSERT_TRUE(oneErrorEach(out.errors, {"IMG_0001.JPG", "IMG_0002.HEIC", "clip.mp4"})) << dir;
  }
  EXPECT_EQ(readFileBytes(file), "not a folder");
  EXPECT_FALSE(fs::exists("/proc/tolvek-e2e-unwritable"));
}

TEST_F(Export, OffloadedOriginalsAreDownloadedAndA404IsReported) {
  const std::string dir = lib_->scratch.work("cloud");
  const Exported out = exportTo(dir, {lib_->missingPicture, lib_->offloadedPicture, lib_->missingVideo,
                                      lib_->offloadedVideo});
  ASSERT_EQ(out.files, (std::vector<std::pair<std::string, std::string>>{{lib_->offloadedPicture, dir + "/cloud.jpg"},
                                                                         {lib_->offloadedVideo, dir + "/cloud.mp4"}}));
  EXPECT_EQ(readFileBytes(out.files[0].second), readFileBytes(lib_->src + "/remote/cloud.jpg"));
  EXPECT_EQ(readFileBytes(out.files[1].second), readFileBytes(lib_->src + "/remote/cloud.mp4"));
  ASSERT_EQ(out.errors.size(), 2u);
  EXPECT_TRUE(out.errors[0].starts_with("gone.jpg: ") && out.errors[0].size() > 12) << out.errors[0];
  EXPECT_TRUE(out.errors[1].starts_with("gone.mp4: ") && out.errors[1].find("404") != std::string::npos)
      << out.errors[1];
  // The failed video leaves no partial file behind under its name.
  EXPECT_EQ(filesBelow(dir), (std::set<std::string>{"cloud.jpg", "cloud.mp4"}));
}

TEST_F(Export, NothingIsWrittenOutsideTheFolder) {
  const std::string work = lib_->scratch.work("");
  const std::string dir = lib_->scratch.work("inside/deeper");
  const std::set<std::string> before = filesBelow(work);
  const Exported out = exportTo(dir, {lib_->escapes, lib_->dots, lib_->jpeg, lib_->escapes});
  EXPECT_TRUE(out.errors.empty()) << out.errors.front();
  ASSERT_EQ(out.files.size(), 4u);
  for (const auto& [id, path] : out.files) {
    EXPECT_EQ(fs::path(path).parent_path().string(), dir) << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  }
  std::set<std::string> added;
  for (const std::string& f : filesBelow(work)) {
    if (!before.count(f)) added.insert(f);
  }
  for (const std::string& f : added) EXPECT_TRUE(f.starts_with("inside/deeper/")) << "written outside: " << f;
  EXPECT_EQ(added.size(), 4u);
  EXPECT_FALSE(fs::exists(lib_->scratch.work("escaped.jpg")));
  EXPECT_FALSE(fs::exists(lib_->scratch.work("inside/escaped.jpg")));
}

TEST_F(Export, LongAndNonAsciiNamesAreWrittenOrReportedOneByOne) {
  const std::string dir = lib_->scratch.work("names");
  const Exported out = exportTo(dir, {lib_->emoji, lib_->longName, lib_->longName, lib_->png});
  // A name of 255 bytes fits the file system, so its first copy is written
  // under it; the second copy's base is shortened so that "-2" still fits.
  EXPECT_TRUE(out.errors.empty()) << "errors: " << Json(out.errors).dump().substr(0, 200) << "...";
  ASSERT_EQ(out.files.size(), 4u);
  const std::string second = fs::path(out.files[2].second).filename().string();
  EXPECT_EQ(out.paths(),
            (Names{dir + "/Été 🌅.png", dir + "/" + lib_->longFileName, dir + "/" + second, dir + "/drawing.png"}));
  EXPECT_EQ(readFileBytes(out.files[0].second), readFileBytes(lib_->src + "/Été 🌅.png"));
  EXPECT_LE(second.size(), 255u);
  EXPECT_TRUE(second.ends_with("-2.jpg")) << second;
  EXPECT_TRUE(second.starts_with(std::string(200, 'n'))) << second;
  EXPECT_EQ(readFileBytes(out.files[2].second), readFileBytes(out.files[1].second));
  EXPECT_EQ(filesBelow(dir), (std::set<std::string>{"Été 🌅.png", lib_->longFileName, second, "drawing.png"}));
}

TEST_F(Export, ASymbolicLinkAtTheNameIsReplacedNotFollowed) {
  const std::string dir = lib_->scratch.folder("links");
  const std::string victim = lib_->scratch.work("victim.txt");
  ASSERT_TRUE(writeFileBytes(victim, "keep me"));
  for (const char* name : {"IMG_0001.JPG", "IMG_0002.jpg", "clip.mp4"}) fs::create_symlink(victim, dir + "/" + name);
  const Exported out = exportTo(dir, {lib_->jpeg, lib_->heic, lib_->video});
  EXPECT_EQ(readFileBytes(victim), "keep me") << "written through a link out of the folder";
  // Pictures replace whatever is at their name; a video is written only
  // where nothing is, else reported.
  ASSERT_GE(out.files.size(), 2u);
  EXPECT_EQ(out.files[0].second, dir + "/IMG_0001.JPG");
  EXPECT_EQ(out.files[1].second, dir + "/IMG_0002.jpg");
  for (const auto& [id, path] : out.files) {
    EXPECT_FALSE(fs::is_symlink(path)) << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  }
  EXPECT_EQ(readFileBytes(dir + "/IMG_0001.JPG"), readFileBytes(lib_->src + "/IMG_0001.JPG"));
  if (out.files.size() == 2u) {
    ASSERT_EQ(out.errors.size(), 1u);
    EXPECT_TRUE(out.errors[0].starts_with("clip.mp4: ")) << out.errors[0];
  } else {
    EXPECT_TRUE(out.errors.empty());
  }
}

// A tiny file system mounted for the test (root only), filled up before the
// export runs.
class FullFileSystem {
 public:
  explicit FullFileSystem(const std::string& at) : at_(at) {
    fs::create_directories(at_);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") == 0;
  }
  ~FullFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  FullFileSystem(const FullFileSystem&) = delete;
  FullFileSystem& operator=(const FullFileSystem&) = delete;
  bool mounted() const { return mounted_; }
  // Writes a filler file until the file system has no room left.
  bool fill() const {
    std::ofstream filler(at_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 1000 && filler; ++i) filler.write(block.data(), static_cast<std::streamsize>(block.size()));
    filler.close();
    return fs::file_size(at_ + "/filler") < 1000u * 4096u;
  }

 private:
  std::string at_;
  bool mounted_ = false;
};

TEST_F(Export, AFullFileSystemReportsEachWriteAndKeepsTheEarlierFile) {
  const std::string dir = lib_->scratch.work("full");
  FullFileSystem full(dir);
  if (!full.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  ASSERT_EQ(exportTo(dir, {lib_->png}).files.size(), 1u);
  ASSERT_TRUE(full.fill());

  const Exported out = exportTo(dir, {lib_->png, lib_->jpeg, lib_->heic, lib_->video});
  EXPECT_TRUE(out.files.empty());
  ASSERT_TRUE(oneErrorEach(out.errors, {"drawing.png", "IMG_0001.JPG", "IMG_0002.HEIC", "clip.mp4"}));
  EXPECT_EQ(readFileBytes(dir + "/drawing.png"), readFileBytes(lib_->src + "/drawing.png"))
      << "the earlier run's file is kept whole";
  // No half-written pictures and no temporary files left behind.
  std::set<std::string> left = filesBelow(dir);
  left.erase("filler");
  left.erase("clip.mp4");
  EXPECT_EQ(left, std::set<std::string>{"drawing.png"});
}

TEST_F(Export, NoIdentifiersStillCreateTheFolderAndGiveEmptyArrays) {
  const std::string dir = lib_->scratch.work("none/at/all");
  const Exported out = exportTo(dir, {"nothing", "%", "_", "\"x\"", "🌅"});
  EXPECT_TRUE(out.files.empty());
  EXPECT_TRUE(out.errors.empty());
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_TRUE(filesBelow(dir).empty());
  EXPECT_EQ(lib_->scratch.run({"export", dir, ""}), Json::parse(R"({"files":[],"errors":[]})"));
}

// The names in `folder` that are the helper's temporary files.
std::vector<std::string> temporariesIn(const std::string& folder) {
  std::vector<std::string> names = namesIn(folder);
  std::erase_if(names, [](const std::string& name) { return !name.starts_with(".tolvek-"); });
  return names;
}

TEST_F(Export, ASignalDuringAVideoWriteLeavesNoPartialFile) {
  const std::string body = *readFileBytes(lib_->src + "/remote/cloud.mp4");
  // Slow enough that every signal arrives while the video is being written.
  lib_->server->serve("/cloud.mp4", HttpPlan{.body = body, .behaviour = HttpBehaviour::slow, .chunkSize = 256,
                                             .pause = std::chrono::milliseconds(100)});
  for (const int sig : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
    const std::string dir = lib_->scratch.folder("signal-" + std::to_string(sig));
    std::atomic<pid_t> child{0};
    std::thread killer([&] {
      // Once its temporary file exists, the helper gets the signal.
      for (int i = 0; i < 400; ++i) {
        if (child != 0 && !temporariesIn(dir).empty()) {
          ::kill(child, sig);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
    });
    RunOptions options = lib_->scratch.options();
    options.onStart = [&child](pid_t pid) { child = pid; };
    const ProcessResult r =
        runProcess(std::string(TOLVEK_BIN_DIR) + "/tolvek-photos", {"export", dir, lib_->offloadedVideo}, options);
    killer.join();
    EXPECT_EQ(r.signal, sig) << "status " << r.exitStatus << ": " << r.out;
    EXPECT_EQ(r.out, "") << sig;
    EXPECT_FALSE(fs::exists(dir + "/cloud.mp4")) << sig;
    // Killed outright it cannot clean up; otherwise nothing stays.
    EXPECT_EQ(temporariesIn(dir).size(), sig == SIGKILL ? 1u : 0u) << sig;
  }
  // The next export into the folder clears what the killed run left and
  // writes the video whole.
  lib_->server->serve("/cloud.mp4", HttpPlan{.body = body});
  const std::string killed = lib_->scratch.work("signal-" + std::to_string(SIGKILL));
  ASSERT_EQ(exportTo(killed, {lib_->offloadedVideo}).files.size(), 1u);
  EXPECT_EQ(readFileBytes(killed + "/cloud.mp4"), body);
  EXPECT_EQ(temporariesIn(killed), std::vector<std::string>{});
}

}  // namespace
}  // namespace tolvek::testing
