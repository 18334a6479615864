// Resource writes: the kernel's copy of local originals, streamed remote
// originals, and every fault reported once with nothing complete-looking left.
// Downloads of remote originals: what is accepted as the original, and the
// limits that end a transfer that would never end. Image requests on the
// library on disk: derivatives first, originals with shrink-on-load, video
// frames, remote originals, and every fault giving none.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "library/cover_size.h"
#include "platform/catalog/content_hash.h"
#include "platform/helper/linux_image_manager.h"
#include "platform/helper/linux_resource_manager.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"
#include "platform/modules/remote_download.h"
#include "support/fake_stored_asset_index.h"
#include "support/http_test_server.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

using namespace std::chrono_literals;

// What a completion reported, and how often it ran.
struct Outcome {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  std::optional<std::string> error;

  bool waitDone(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [this] { return calls > 0; });
  }
};

// A completion that records into `outcome`, which it keeps alive.
ResourceManager::Completion recordInto(const std::shared_ptr<Outcome>& outcome) {
  return [outcome](Status status) {
    std::lock_guard<std::mutex> lock(outcome->mutex);
    ++outcome->calls;
    outcome->error = status ? std::nullopt : std::optional<std::string>(status.message());
    outcome->changed.notify_all();
  };
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

class ResourceWrites : public ::testing::Test {
 protected:
  // Starts a write and waits for its completion (bounded).
  std::shared_ptr<Outcome> write(std::int64_t handle, const std::string& destination, bool network = false,
                                 std::chrono::seconds limit = 30s) {
    auto outcome = std::make_shared<Outcome>();
    const AssetResource resource{ResourceType::video, "", "", 0, handle};
    const auto started = std::chrono::steady_clock::now();
    manager.writeDataForAssetResource(resource, destination, ResourceRequestOptions{network}, recordInto(outcome));
    // It returns at once, before any byte is copied.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    EXPECT_TRUE(outcome->waitDone(limit)) << "no completion for " << destination;
    // Exactly once: nothing more arrives later.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(outcome->calls, 1);
    return outcome;
  }

  ScratchFolder folder;
  FakeStoredAssetIndex index;
  // A stall limit of one second keeps the stalled download short.
  LinuxResourceManager manager{index, DownloadLimits{5, 1}};
};

TEST_F(ResourceWrites, LocalOriginalIsCopiedByteForByte) {
  // Small files are copied on the calling thread, larger ones on their own.
  const std::string small = randomBytes(5 * 1024 * 1024 + 17, 1);
  const std::string large = randomBytes(9 * 1024 * 1024 + 3, 2);
  ASSERT_TRUE(writeFileBytes(folder.file("small.mov"), small));
  ASSERT_TRUE(writeFileBytes(folder.file("large.mov"), large));
  ASSERT_TRUE(writeFileBytes(folder.file("empty.mov"), ""));
  for (const auto& [handle, name, bytes] : std::vector<std::tuple<std::int64_t, std::string, std::string>>{
           {1, "small.mov", small}, {2, "large.mov", large}, {3, "empty.mov", ""}}) {
    index.originals[handle] = {folder.file(name), "", "com.apple.quicktime-movie", {}, {}};
    EXPECT_EQ(write(handle, folder.file("copy-" + name))->error, std::nullopt) << name;
    EXPECT_EQ(readFileBytes(folder.file("copy-" + name)), bytes) << name;
  }
}

TEST_F(ResourceWrites, CopyFromAnotherFileSystemFallsBackToReadAndWrite) {
  // /dev/shm is a tmpfs: copy_file_range between it and the scratch folder
  // may be refused as cross-device; the copy must still be whole.
  if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  const std::string source = "/dev/shm/tolvek-resource-test-" + std::to_string(::getpid());
  const std::string bytes = randomBytes(3 * 1024 * 1024 + 5, 2);
  ASSERT_TRUE(writeFileBytes(source, bytes));
  index.originals[1] = {source, "", "public.mpeg-4", {}, {}};
  EXPECT_EQ(write(1, folder.file("copy.mp4"))->error, std::nullopt);
  EXPECT_EQ(readFileBytes(folder.file("copy.mp4")), bytes);
  std::filesystem::remove(source);
}

TEST_F(ResourceWrites, ExistingDestinationIsLeftUntouched) {
  ASSERT_TRUE(writeFileBytes(folder.file("original.mov"), "new bytes"));
  ASSERT_TRUE(writeFileBytes(folder.file("there.mov"), "old bytes"));
  index.originals[1] = {folder.file("original.mov"), "", "", {}, {}};
  const auto outcome = write(1, folder.file("there.mov"));
  ASSERT_TRUE(outcome->error);
  EXPECT_NE(outcome->error->find("already exists"), std::string::npos) << *outcome->error;
  EXPECT_EQ(readFileBytes(folder.file("there.mov")), "old bytes");
  // A symbolic link there is not followed either.
  ASSERT_EQ(::symlink(folder.file("target.mov").c_str(), folder.file("link.mov").c_str()), 0);
  EXPECT_TRUE(write(1, folder.file("link.mov"))->error);
  EXPECT_FALSE(std::filesystem::exists(folder.file("target.mov")));
}

TEST_F(ResourceWrites, MissingOriginalOrResourceIsAnError) {
  index.originals[1] = {folder.file("deleted.mov"), "", "", {}, {}};
  EXPECT_EQ(write(1, folder.file("out.mov"))->error, "No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(folder.file("out.mov")));
  EXPECT_EQ(write(42, folder.file("out2.mov"))->error, "No such file or directory");
  index.originals[3] = {folder.path(), "", "", {}, {}};
  EXPECT_TRUE(write(3, folder.file("out3.mov"))->error);
  EXPECT_FALSE(std::filesystem::exists(folder.file("out3.mov")));
}

TEST_F(ResourceWrites, UnwritableDestinationIsAnError) {
  ASSERT_TRUE(writeFileBytes(folder.file("original.mov"), "bytes"));
  index.originals[1] = {folder.file("original.mov"), "", "", {}, {}};
  EXPECT_EQ(write(1, folder.file("no/such/folder/out.mov"))->error, "No such file or directory");
  EXPECT_EQ(write(1, folder.file("original.mov/out.mov"))->error, "Not a directory");
  EXPECT_TRUE(write(1, "")->error);
}

TEST_F(ResourceWrites, FullDestinationRemovesThePartialFile) {
  ASSERT_TRUE(writeFileBytes(folder.file("original.mov"), randomBytes(2 * 1024 * 1024, 3)));
  index.originals[1] = {folder.file("original.mov"), "", "", {}, {}};
  const std::string small = folder.file("small");
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") == 0) {
    const auto outcome = write(1, small + "/out.mov");
    ::umount2(small.c_str(), MNT_DETACH);
    EXPECT_EQ(outcome->error, "No space left on device");
  } else {
    // No tmpfs to fill: a file size limit makes writes fail the same way.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto outcome = write(1, small + "/out.mov");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(outcome->error, "File too large");
  }
  EXPECT_FALSE(std::filesystem::exists(small + "/out.mov"));
}

TEST_F(ResourceWrites, RemoteOriginals) {
  HttpTestServer server;
  ASSERT_TRUE(server.listening());
  const std::string body = randomBytes(700 * 1024, 4);
  server.serve("/whole.mov", HttpPlan{body});
  server.serve("/slow.mov",
               HttpPlan{.body = body, .behaviour = HttpBehaviour::slow, .chunkSize = 64 * 1024, .pause = 40ms});
  server.serve("/missing.mov", HttpPlan{"", HttpBehaviour::notFound});
  server.serve("/cut.mov", HttpPlan{.body = body, .behaviour = HttpBehaviour::cutOff, .cutAfter = 100 * 1024});
  server.serve("/stall.mov",
               HttpPlan{.body = body, .behaviour = HttpBehaviour::stall, .cutAfter = 100 * 1024, .stallFor = 8000ms});
  const std::vector<std::string> names{"whole", "slow", "missing", "cut", "stall"};
  for (std::size_t i = 0; i < names.size(); ++i)
    index.originals[static_cast<std::int64_t>(i)] = {"", server.url("/" + names[i] + ".mov"), "public.mpeg-4", {}, {}};

  EXPECT_EQ(write(0, folder.file("whole.mov"), true)->error, std::nullopt);
  EXPECT_EQ(readFileBytes(folder.file("whole.mov")), body);
  // Slow but steady: the stall limit of one second is never reached.
  EXPECT_EQ(write(1, folder.file("slow.mov"), true)->error, std::nullopt);
  EXPECT_EQ(readFileBytes(folder.file("slow.mov")), body);
  EXPECT_EQ(write(2, folder.file("missing.mov"), true)->error, "The server answered 404");
  const auto cut = write(3, folder.file("cut.mov"), true);
  EXPECT_TRUE(cut->error);
  const auto started = std::chrono::steady_clock::now();
  const auto stalled = write(4, folder.file("stall.mov"), true);
  ASSERT_TRUE(stalled->error);
  EXPECT_NE(stalled->error->find("stalled"), std::string::npos) << *stalled->error;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
  for (const char* name : {"missing.mov", "cut.mov", "stall.mov"})
    EXPECT_FALSE(std::filesystem::exists(folder.file(name))) << name << " left behind";
}

TEST_F(ResourceWrites, RemoteOriginalWithoutNetworkAccessIsAnError) {
  HttpTestServer server;
  server.serve("/whole.mov", HttpPlan{"bytes"});
  index.originals[1] = {"", server.url("/whole.mov"), "public.mpeg-4", {}, {}};
  const auto outcome = write(1, folder.file("out.mov"), false);
  ASSERT_TRUE(outcome->error);
  EXPECT_NE(outcome->error->find("network access"), std::string::npos);
  EXPECT_EQ(server.requestCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder.file("out.mov")));
  // Unreachable server: an error, not a hang.
  index.originals[2] = {"", "http://127.0.0.1:1/nothing.mov", "", {}, {}};
  EXPECT_TRUE(write(2, folder.file("out2.mov"), true)->error);
}

TEST_F(ResourceWrites, CompletionOwnsWhatItUsesAfterTheManagerIsGone) {
  ASSERT_TRUE(writeFileBytes(folder.file("original.mov"), randomBytes(4 * 1024 * 1024, 5)));
  auto outcome = std::make_shared<Outcome>();
  {
    FakeStoredAssetIndex shortLived;
    shortLived.originals[1] = {folder.file("original.mov"), "", "", {}, {}};
    LinuxResourceManager temporary(shortLived);
    temporary.writeDataForAssetResource(AssetResource{ResourceType::photo, "", "", 0, 1}, folder.file("copy.mov"), {},
                                        recordInto(outcome));
  }
  ASSERT_TRUE(outcome->waitDone(30s));
  EXPECT_EQ(outcome->error, std::nullopt);
  EXPECT_EQ(readFileBytes(folder.file("copy.mov")), readFileBytes(folder.file("original.mov")));
}


TEST_F(ResourceWrites, OnlyTheOriginalEverReachesTheFinalName) {
  HttpTestServer server;
  const std::string body = randomBytes(200000, 7);
  std::string other = body;
  other[100] = static_cast<char>(other[100] ^ 1);
  server.serve("/right.mov", HttpPlan{body});
  server.serve("/other.mov", HttpPlan{other});
  server.serve("/empty.mov", HttpPlan{""});
  server.serve("/page.mov", HttpPlan{"<html>error</html>"});
  ASSERT_TRUE(writeFileBytes(folder.file("right.bytes"), body));
  const std::string hash = digestOfFile(folder.file("right.bytes"))->sha256;
  ASSERT_EQ(::mkfifo(folder.file("fifo.mov").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", folder.file("zero.mov").c_str()), 0);
  struct Case {
    StoredOriginal original;
    std::string error;  // empty: written
  };
  const Case cases[] = {
      {{"", server.url("/right.mov"), "", body.size(), hash}, ""},
      {{"", server.url("/other.mov"), "", body.size(), hash}, kNotTheOriginal},
      {{"", server.url("/empty.mov"), "", body.size(), hash}, kNotTheOriginal},
      {{"", server.url("/page.mov"), "", body.size(), hash}, kNotTheOriginal},
      {{"", server.url("/right.mov"), "", body.size() - 1, ""}, kNotTheOriginal},
      {{folder.file("fifo.mov"), "", "", {}, {}}, kNotARegularFile},
      {{folder.file("zero.mov"), "", "", {}, {}}, kNotARegularFile},
  };
  ScratchFolder out;
  const mode_t mask = ::umask(027);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    index.originals[100] = cases[i].original;
    const std::string destination = out.file("out" + std::to_string(i) + ".mov");
    EXPECT_EQ(write(100, destination, true)->error.value_or(""), cases[i].error) << i;
    EXPECT_EQ(std::filesystem::exists(destination), cases[i].error.empty()) << i;
  }
  ::umask(mask);
  // No temporary file is left, and the written file has mode 0666 less the umask.
  EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"out0.mov"}));
  EXPECT_EQ(std::filesystem::status(out.file("out0.mov")).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(readFileBytes(out.file("out0.mov")), body);
}

TEST_F(ResourceWrites, ACancelledWriteLeavesNothing) {
  HttpTestServer server;
  server.serve(
      "/slow.mov",
      HttpPlan{.body = randomBytes(400000, 9), .behaviour = HttpBehaviour::slow, .chunkSize = 4096, .pause = 50ms});
  index.originals[1] = {"", server.url("/slow.mov"), "", {}, {}};
  auto outcome = std::make_shared<Outcome>();
  const auto request = manager.writeDataForAssetResource(AssetResource{ResourceType::photo, "", "", 0, 1},
                                                         folder.file("slow.mov"), {true}, recordInto(outcome));
  std::this_thread::sleep_for(300ms);
  manager.cancelDataRequest(request);
  manager.cancelDataRequest(request + 1000);  // unknown: nothing happens
  ASSERT_TRUE(outcome->waitDone(5s));
  EXPECT_TRUE(outcome->error);
  EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{});
}

const std::string kPhoto = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(5000, 'p');

std::string sha256Of(const std::string& bytes) {
  auto file = TemporaryFile::createIn(std::filesystem::temp_directory_path().string());
  EXPECT_TRUE(file.ok());
  EXPECT_TRUE(writeAll(file->fd(), bytes).ok());
  return digestOfFile(file->path())->sha256;
}

Status fetch(const std::string& url, const ExpectedContent& expected, DownloadLimits limits = {5, 2, 1, 0, nullptr}) {
  auto file = TemporaryFile::createIn(std::filesystem::temp_directory_path().string());
  EXPECT_TRUE(file.ok());
  return downloadOriginal(url, expected, *file, limits);
}

TEST(DownloadOriginal, OnlyTheRecordedContentIsTheOriginal) {
  HttpTestServer server;
  const std::string hash = sha256Of(kPhoto);
  std::string sameSizeOtherBytes = kPhoto;
  sameSizeOtherBytes.back() = 'q';
  server.serve("/photo", HttpPlan{kPhoto});
  server.serve("/empty", HttpPlan{""});
  server.serve("/html", HttpPlan{"<html><body>Not found</body></html>"});
  server.serve("/gzip", HttpPlan{std::string("\x1f\x8b\x08\x00", 4) + std::string(100, 'z')});
  server.serve("/other", HttpPlan{sameSizeOtherBytes});
  server.serve("/longer", HttpPlan{kPhoto + std::string(100000, 'x')});
  server.serve("/gone", HttpPlan{"", HttpBehaviour::notFound});
  server.serve("/cut", HttpPlan{.body = kPhoto, .behaviour = HttpBehaviour::cutOff, .cutAfter = 100});

  const ExpectedContent recorded{kPhoto.size(), hash};
  const ExpectedContent sizeOnly{kPhoto.size(), ""};
  struct Case {
    const char* path;
    ExpectedContent expected;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {"/photo", recorded, ""},
      {"/photo", sizeOnly, ""},
      {"/empty", recorded, kNotTheOriginal},
      {"/empty", {}, kNotTheOriginal},
      {"/html", recorded, kNotTheOriginal},
      {"/gzip", recorded, kNotTheOriginal},
      {"/other", recorded, kNotTheOriginal},
      {"/longer", recorded, kNotTheOriginal},
      {"/longer", sizeOnly, kNotTheOriginal},
      {"/gone", recorded, "The server answered 404"},
      {"/cut", recorded, "The download broke off before the end"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fetch(server.url(c.path), c.expected).message(), c.error) << c.path;
  }
}

TEST(DownloadOriginal, OnlyHttpAndHttps) {
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "", "gopher://x", "/etc/passwd"}) {
    EXPECT_NE(fetch(url, {}).message().find("not an http or https URL"), std::string::npos) << url;
  }
}

TEST(DownloadToFile, CapEndsAnEndlessBody) {
  HttpTestServer server;
  // Far more than the cap, sent slowly enough that the cap, not the end, stops it.
  server.serve(
      "/endless",
      HttpPlan{.body = std::string(4 << 20, 'e'), .behaviour = HttpBehaviour::slow, .chunkSize = 65536, .pause = 5ms});
  FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  const Status result = downloadToFile(server.url("/endless"), fileno(sink), DownloadLimits{5, 2, 1, 100000, nullptr});
  EXPECT_EQ(result.message(), kDownloadTooLarge);
  EXPECT_EQ(result.code(), ErrorCode::tooLarge);
  struct stat info {};
  ASSERT_EQ(::fstat(fileno(sink), &info), 0);
  EXPECT_LE(info.st_size, 100000);
  std::fclose(sink);
}

TEST(DownloadToFile, StallsAndCancelsEndATransfer) {
  HttpTestServer server;
  server.serve(
      "/stall",
      HttpPlan{.body = std::string(50000, 's'), .behaviour = HttpBehaviour::stall, .cutAfter = 10, .stallFor = 6000ms});
  // A few bytes every 200 ms: never silent, but far below the floor.
  server.serve(
      "/trickle",
      HttpPlan{.body = std::string(50000, 't'), .behaviour = HttpBehaviour::slow, .chunkSize = 8, .pause = 200ms});
  std::atomic<bool> cancelled{true};
  struct Case {
    const char* path;
    DownloadLimits limits;
    std::string error;
  };
  const Case cases[] = {
      {"/stall", {5, 1, 1, 0, nullptr}, "The download stalled: nothing received for 1 seconds"},
      {"/trickle", {5, 1, 1024, 0, nullptr}, "The download stalled: less than 1024 bytes a second for 1 seconds"},
      {"/trickle", {5, 1, 1, 0, &cancelled}, kDownloadCancelled},
  };
  for (const Case& c : cases) {
    FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    const auto started = std::chrono::steady_clock::now();
    const Status result = downloadToFile(server.url(c.path), fileno(sink), c.limits);
    const auto took = std::chrono::steady_clock::now() - started;
    std::fclose(sink);
    EXPECT_EQ(result.message(), c.error) << c.path;
    EXPECT_LT(took, 4s) << c.path;
  }
}

struct Rendered {
  int calls = 0;
  std::unique_ptr<Picture> picture;
  std::string jpeg;
};

class ImageRequests : public ::testing::Test {
 protected:
  Rendered request(std::int64_t handle, PixelSize target, bool network = false) {
    Rendered result;
    const Asset asset{"", index.assets.count(handle) ? index.assets[handle].mediaType : MediaType::image, {}, handle};
    manager.requestImage(asset, target, ContentMode::aspectFill, {network}, [&](std::unique_ptr<Picture> picture) {
      ++result.calls;
      result.picture = std::move(picture);
    });
    if (const auto bitmap = result.picture ? result.picture->bitmap() : nullptr)
      result.jpeg = bitmap->jpegRepresentation(0.8, JpegMetadata::none).value_or("");
    return result;
  }

  // An original (upright marker) and a derivative that shows the marker
  // upside down, so each result says where it came from.
  void addPictureWithDerivative(std::int64_t handle, PictureFixture original, int derivativeWidth,
                                int derivativeHeight) {
    const std::string originalPath = folder.file(std::to_string(handle) + "-original.jpg");
    const std::string derivativePath = folder.file(std::to_string(handle) + "-derivative.jpg");
    ASSERT_TRUE(writePicture(originalPath, "jpeg", original));
    // Stored turned by 180 degrees and without a tag: shown upside down.
    ASSERT_TRUE(writePicture(folder.file("turned.jpg"), "jpeg",
                             PictureFixture{.width = derivativeWidth, .height = derivativeHeight, .orientation = 3}));
    ASSERT_TRUE(writeFileBytes(derivativePath, withoutExif(readFileBytes(folder.file("turned.jpg")).value_or(""))));
    index.assets[handle] = StoredAsset{MediaType::image,
                                       StoredOriginal{originalPath, "", "public.jpeg", {}, {}},
                                       {StoredDerivative{derivativePath, derivativeWidth, derivativeHeight, {}}}};
  }

  // An asset whose original is at `path` or `url`, without derivatives.
  void store(std::int64_t handle, MediaType type, const std::string& path, const std::string& typeIdentifier,
             const std::string& url = "") {
    index.assets[handle] = StoredAsset{type, StoredOriginal{path, url, typeIdentifier, {}, {}}, {}};
  }

  // The JPEG re-encoded by libvips with every tag dropped (so the orientation is lost).
  static std::string withoutExif(const std::string& jpeg) {
    const auto app1 = jpeg.find("\xFF\xE1");
    if (app1 == std::string::npos) return jpeg;
    const std::size_t length =
        (static_cast<unsigned char>(jpeg[app1 + 2]) << 8) | static_cast<unsigned char>(jpeg[app1 + 3]);
    return jpeg.substr(0, app1) + jpeg.substr(app1 + 2 + length);
  }

  ScratchFolder folder;
  FakeStoredAssetIndex index;
  LinuxImageManager manager{index, DownloadLimits{5, 2}};
};

// Which source serves a request, and what is left when some are gone or
// damaged: the derivative shows the marker upside down, the original upright.
TEST_F(ImageRequests, TheSmallestCoveringSourceThatReadsServes) {
  enum class Damage { none, originalGone, derivativeGone, derivativeCut, allGone, unknownAsset };
  using enum Damage;
  using enum MarkerColour;
  const PictureFixture large{.width = 4032, .height = 3024}, medium{.width = 1200, .height = 900};
  const struct {
    const char* what;
    PictureFixture original;
    Damage damage;
    PixelSize target;
    std::optional<PixelSize> size;  // nothing: no picture
    MarkerColour topLeft;
  } cases[] = {
      {"a covering derivative", large, none, {240, 240}, PixelSize{320, 240}, white},
      {"larger than the derivatives: the original", large, none, {1024, 1024}, PixelSize{1365, 1024}, red},
      {"no original: a derivative", large, originalGone, {1024, 1024}, PixelSize{683, 512}, white},
      {"no derivative: the original", medium, derivativeGone, {240, 240}, PixelSize{320, 240}, red},
      {"a derivative cut to half its size: the original", medium, derivativeCut, {240, 240}, PixelSize{320, 240}, red},
      {"nothing left: none", PictureFixture{}, allGone, {240, 240}, std::nullopt, other},
      {"an unknown asset: none", PictureFixture{}, unknownAsset, {240, 240}, std::nullopt, other},
  };
  std::int64_t handle = 0;
  for (const auto& c : cases) {
    addPictureWithDerivative(++handle, c.original, 683, 512);
    StoredAsset& stored = index.assets[handle];
    if (c.damage == originalGone || c.damage == allGone) std::filesystem::remove(stored.original.path);
    if (c.damage == allGone) stored.derivatives.clear();
    if (c.damage == derivativeGone) std::filesystem::remove(stored.derivatives[0].path);
    if (c.damage == derivativeCut) {
      const std::string whole = readFileBytes(stored.derivatives[0].path).value_or("");
      stored.derivatives[0].bytes = whole.size();
      ASSERT_TRUE(writeFileBytes(stored.derivatives[0].path, whole.substr(0, whole.size() / 2)));
    }
    const Rendered result = request(c.damage == unknownAsset ? 99 : handle, c.target);
    EXPECT_EQ(result.calls, 1) << c.what;
    if (!c.size) {
      EXPECT_EQ(result.picture, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(result.picture, nullptr) << c.what;
    EXPECT_EQ(result.picture->size(), *c.size) << c.what;
    EXPECT_EQ(markerColourIn(result.jpeg, Quadrant::topLeft), c.topLeft) << c.what;
  }
}

// A derivative of exactly the size asked, made at the thumbnails' quality,
// is handed over byte for byte; anything else about it makes it rendered.
TEST_F(ImageRequests, AStoredDerivativeOfTheSizeAskedIsHandedOverAsItIs) {
  enum class Record { asMade, noQuality, otherLength, cutEnd };
  using enum Record;
  const struct {
    const char* what;
    Record record;
    PixelSize target;
    double quality;
    bool handedOver;
    MarkerColour topLeft;  // white: from the derivative, red: from the original
  } cases[] = {
      {"the size asked, at its quality", asMade, {240, 240}, 0.8, true, MarkerColour::white},
      {"asked at another quality: encoded again", asMade, {240, 240}, 0.9, false, MarkerColour::white},
      {"smaller than the derivative: shrunk", asMade, {120, 120}, 0.8, false, MarkerColour::white},
      {"an uneven shrink", asMade, {64, 64}, 0.8, false, MarkerColour::white},
      {"no recorded quality", noQuality, {240, 240}, 0.8, false, MarkerColour::white},
      {"shorter than recorded", otherLength, {240, 240}, 0.8, false, MarkerColour::red},
      {"no end of image", cutEnd, {240, 240}, 0.8, false, MarkerColour::white},
  };
  std::int64_t handle = 0;
  for (const auto& c : cases) {
    addPictureWithDerivative(++handle, {.width = 1200, .height = 900}, 320, 240);
    StoredDerivative& derivative = index.assets[handle].derivatives[0];
    std::string bytes = readFileBytes(derivative.path).value_or("");
    if (c.record == cutEnd) {
      bytes.resize(bytes.size() - 2);
      ASSERT_TRUE(writeFileBytes(derivative.path, bytes));
    }
    derivative.bytes = bytes.size() + (c.record == otherLength ? 1 : 0);
    if (c.record != noQuality) derivative.quality = 80;
    const Rendered result = request(handle, c.target);
    ASSERT_NE(result.picture, nullptr) << c.what;
    EXPECT_EQ(result.picture->size(), coverSize({320, 240}, c.target)) << c.what;
    const auto jpeg = result.picture->bitmap()->jpegRepresentation(c.quality, JpegMetadata::none);
    ASSERT_TRUE(jpeg) << c.what;
    const auto encoded = encodedPictureSize(*jpeg);
    ASSERT_TRUE(encoded) << c.what;
    EXPECT_EQ((PixelSize{encoded->width, encoded->height}), result.picture->size()) << c.what;
    EXPECT_EQ(*jpeg == bytes, c.handedOver) << c.what;
    EXPECT_EQ(markerColourIn(*jpeg, Quadrant::topLeft), c.topLeft) << c.what;
  }
}

// Derivatives that record their original's size give every request the
// size the original gives, whichever way they serve it: handed over or
// shrunk by the JPEG module (recorded quality), or rendered by the media
// module (no recorded quality).
TEST_F(ImageRequests, DerivativesGiveTheSizesTheOriginalGives) {
  ASSERT_TRUE(writePicture(folder.file("uneven.jpg"), "jpeg", {.width = 1400, .height = 1100}));
  MediaModule* media = loadMediaModule();
  ASSERT_NE(media, nullptr);
  const auto made = media->makeDerivatives(folder.file("uneven.jpg"), MediaType::image, folder.file("uneven"));
  ASSERT_EQ(made.size(), 2u);
  for (const bool quality : {true, false}) {
    // Only the derivatives: the original is not where the index says.
    index.assets[1] = StoredAsset{MediaType::image, StoredOriginal{folder.file("gone.jpg"), "", "public.jpeg", {}, {}},
                                  made};
    if (!quality) {
      for (StoredDerivative& d : index.assets[1].derivatives) d.quality.reset();
    }
    for (const std::int64_t side : {64, 79, 101, 138, 200, 240, 258, 302, 400, 512}) {
      const Rendered result = request(1, {side, side});
      ASSERT_NE(result.picture, nullptr) << side;
      const PixelSize expected = coverSize({1400, 1100}, {side, side});
      EXPECT_EQ(result.picture->size(), expected) << side << (quality ? "" : ", rendered");
      EXPECT_TRUE(hasPictureSize(result.jpeg, static_cast<int>(expected.width), static_cast<int>(expected.height)))
          << side << (quality ? "" : ", rendered");
    }
  }
}

TEST_F(ImageRequests, VideosGiveAnUprightFrameAudioGivesNone) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(writeVideo(folder.file("v.mov"), {.width = 320, .height = 240, .container = "mov", .rotate = 90}));
  ASSERT_TRUE(writeAudio(folder.file("a.m4a"), "m4a"));
  store(1, MediaType::video, folder.file("v.mov"), "com.apple.quicktime-movie");
  store(2, MediaType::audio, folder.file("a.m4a"), "com.apple.m4a-audio");
  const Rendered video = request(1, {120, 120});
  ASSERT_NE(video.picture, nullptr);
  EXPECT_EQ(video.picture->size(), (PixelSize{120, 160}));
  const Rendered audio = request(2, {120, 120});
  EXPECT_EQ(audio.calls, 1);
  EXPECT_EQ(audio.picture, nullptr);
}

TEST_F(ImageRequests, RemoteOriginalIsDownloadedOnlyWithNetworkAccess) {
  HttpTestServer server;
  ASSERT_TRUE(server.listening());
  ASSERT_TRUE(writePicture(folder.file("remote.jpg"), "jpeg", {.width = 800, .height = 600}));
  server.serve("/remote.jpg", HttpPlan{readFileBytes(folder.file("remote.jpg")).value_or("")});
  store(1, MediaType::image, "", "public.jpeg", server.url("/remote.jpg"));
  EXPECT_EQ(request(1, {240, 240}, false).picture, nullptr);
  EXPECT_EQ(server.requestCount(), 0);
  const Rendered result = request(1, {240, 240}, true);
  ASSERT_NE(result.picture, nullptr);
  EXPECT_EQ(result.picture->size(), (PixelSize{320, 240}));
  server.serve("/missing.jpg", HttpPlan{"", HttpBehaviour::notFound});
  store(2, MediaType::image, "", "public.jpeg", server.url("/missing.jpg"));
  EXPECT_EQ(request(2, {240, 240}, true).picture, nullptr);
}

class DataRequests : public ImageRequests {
 protected:
  struct Data {
    int calls = 0;
    std::optional<std::string> bytes;
    std::optional<std::string> typeIdentifier;
  };
  Data requestData(std::int64_t handle, bool network = false) {
    Data data;
    manager.requestImageDataAndOrientation(Asset{"", MediaType::unknown, {}, handle}, {network},
                                           [&](std::optional<std::string> bytes, std::optional<std::string> type) {
                                             ++data.calls;
                                             data.bytes = std::move(bytes);
                                             data.typeIdentifier = std::move(type);
                                           });
    return data;
  }
};

TEST_F(DataRequests, OriginalBytesAndTypeIdentifier) {
  ASSERT_TRUE(writePicture(folder.file("p.heic"), "heic", {}));
  store(1, MediaType::image, folder.file("p.heic"), "public.heic");
  const Data data = requestData(1);
  EXPECT_EQ(data.calls, 1);
  EXPECT_EQ(data.bytes, readFileBytes(folder.file("p.heic")));
  EXPECT_EQ(data.typeIdentifier, "public.heic");
}

TEST_F(DataRequests, NoneForVideosAudioAndMissingOriginals) {
  ASSERT_TRUE(writeFileBytes(folder.file("v.mov"), "movie bytes"));
  store(1, MediaType::video, folder.file("v.mov"), "com.apple.quicktime-movie");
  store(2, MediaType::audio, folder.file("v.mov"), "com.apple.m4a-audio");
  store(3, MediaType::image, folder.file("gone.jpg"), "public.jpeg");
  store(4, MediaType::image, folder.path(), "public.jpeg");
  for (std::int64_t handle : {1, 2, 3, 4, 5}) {
    const Data data = requestData(handle);
    EXPECT_EQ(data.calls, 1);
    EXPECT_FALSE(data.bytes) << handle;
    EXPECT_FALSE(data.typeIdentifier) << handle;
  }
}

TEST_F(DataRequests, RemoteOriginalComesOverTheNetworkWhenAllowed) {
  HttpTestServer server;
  const std::string body(300000, 'x');
  server.serve("/p.jpg", HttpPlan{.body = body, .behaviour = HttpBehaviour::slow, .chunkSize = 65536, .pause = 5ms});
  server.serve("/cut.jpg", HttpPlan{.body = body, .behaviour = HttpBehaviour::cutOff, .cutAfter = 4096});
  store(1, MediaType::image, "", "public.jpeg", server.url("/p.jpg"));
  store(2, MediaType::image, "", "public.jpeg", server.url("/cut.jpg"));
  EXPECT_FALSE(requestData(1, false).bytes);
  const Data data = requestData(1, true);
  EXPECT_EQ(data.bytes, body);
  EXPECT_EQ(data.typeIdentifier, "public.jpeg");
  const Data cut = requestData(2, true);
  EXPECT_EQ(cut.calls, 1);
  EXPECT_FALSE(cut.bytes);
}

}  // namespace
}  // namespace tolvek::testing
