// The library writer in this process, with a media module of the test's own:
// an import lands where assetFilePaths says with what the catalog records,
// and an import that fails at any step leaves no file and no row behind.
// And what the library tool keeps in order as it writes: catalogs of the
// previous version are read by the helper and brought up to date in place,
// and files that killed imports left behind are cleared.
#include "platform/library_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/content_hash.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"
#include "support/background_tool.h"
#include "support/catalog_fixture.h"
#include "support/full_disk_vfs.h"
#include "support/in_memory_library.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchLibrary;

// Takes every file for a PNG picture (or for nothing, with `refuse`) and
// writes two small derivatives, remembering their paths. `onProbe`, when
// set, is told of each file probed (its own path, also when the sync names
// it by its descriptor), on the thread that probes it.
class RecordingMedia final : public MediaModule {
 public:
  PictureDecoder& pictureDecoder() override { return decoder_; }
  std::unique_ptr<Picture> renderFile(const std::string&, std::uint64_t, MediaType, PixelSize,
                                      std::optional<PixelSize>) override {
    return nullptr;
  }
  std::optional<MediaProbe> probe(const std::string& path, const std::string&) override {
    if (onProbe) onProbe(path.starts_with("/proc/self/fd/") ? fs::read_symlink(path).string() : path);
    if (refuse) return std::nullopt;
    return answer;
  }
  std::vector<StoredDerivative> makeDerivatives(const std::string&, MediaType, const std::string& pathPrefix) override {
    std::vector<StoredDerivative> made;
    for (const char* suffix : {"-240.jpg", "-512.jpg"}) {
      EXPECT_TRUE(testing::writeFileBytes(pathPrefix + suffix, "jpeg bytes"));
      made.push_back({pathPrefix + suffix, 240, 180, 10});
      std::lock_guard lock(mutex_);
      derivatives.push_back(pathPrefix + suffix);
    }
    return made;
  }
  std::size_t derivativesMade() {
    std::lock_guard lock(mutex_);
    return derivatives.size();
  }

  bool refuse = false;
  MediaProbe answer = [] {
    MediaProbe probe;
    probe.mediaType = MediaType::image;
    probe.uniformTypeIdentifier = "public.png";
    probe.creationDate = 1234;
    return probe;
  }();
  std::function<void(const std::string& path)> onProbe;
  std::vector<std::string> derivatives;

 private:
  FakePictureDecoder decoder_;
  std::mutex mutex_;
};

// The regular files below the library's originals/ and derivatives/.
std::vector<std::string> libraryFiles(const LibraryLocation& where) {
  std::vector<std::string> files = testing::treeOf(where.originalsFolder, testing::TreeEntries::regularFiles);
  for (const auto& file : testing::treeOf(where.derivativesFolder, testing::TreeEntries::regularFiles))
    files.push_back(file);
  return files;
}

std::size_t assetCount(const LibraryLocation& where) { return CatalogReader::open(where)->countAssets(AssetQuery{}); }

class LibraryWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = home.folder("media") + "/Beach.PNG";
    ASSERT_TRUE(testing::writeFileBytes(source, "picture bytes"));
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    auto opened = LibraryWriter::open(home.location(), &media);
    ASSERT_TRUE(opened) << opened.message();
    writer = std::move(opened).value();
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  RecordingMedia media;
  std::string source;
  std::unique_ptr<LibraryWriter> writer;
};

// A folder a source covers is answered with that source, recorded once;
// what is no folder is refused whether or not it lies inside a source.
TEST_F(LibraryWriterTest, AddingASourceAnswersWhichSourceCoversAFolder) {
  using Added = LibraryWriter::Added;
  const std::string pictures = home.folder("Pictures");
  ASSERT_TRUE(testing::writeFileBytes(pictures + "/inner/x.png", "x"));
  auto first = writer->addSource(pictures);
  ASSERT_TRUE(first && first->how == Added::now) << first.message();
  struct Case {
    std::string path;
    std::optional<Added> how;  // nothing: refused with `message`
    std::string message;
  };
  for (const Case& c : std::vector<Case>{{pictures, Added::isASource, ""},
                                          {pictures + "/inner/..", Added::isASource, ""},
                                          {pictures + "/inner", Added::insideASource, ""},
                                          {pictures + "/missing", std::nullopt, "No such file"},
                                          {pictures + "/inner/x.png", std::nullopt, "not a folder"},
                                          {home.work(""), std::nullopt, "holds the source"}}) {
    auto added = writer->addSource(c.path);
    ASSERT_EQ(added.ok(), c.how.has_value()) << c.path << ": " << added.message();
    if (!added) {
      EXPECT_NE(added.message().find(c.message), std::string::npos) << added.message();
      continue;
    }
    EXPECT_EQ(added->how, *c.how) << c.path;
    EXPECT_EQ(added->source.row, first->source.row) << c.path;
  }
  auto sources = writer->catalog().sources();
  ASSERT_TRUE(sources);
  EXPECT_EQ(sources->size(), 1u);
}

TEST_F(LibraryWriterTest, ImportPutsTheFilesWhereTheIdentifierSaysAndRecordsThem) {
  const auto id = writer->importFile(source, {});
  ASSERT_TRUE(id) << id.message();
  const AssetFilePaths paths = assetFilePaths(id->identifier);
  const std::string copy = home.location().libraryFolder + "/" + paths.originalStem + ".png";
  EXPECT_EQ(testing::readFileBytes(copy), "picture bytes");
  EXPECT_EQ(fs::status(copy).permissions() & fs::perms::mask, fs::perms(0640));
  for (const std::string& d : media.derivatives)
    EXPECT_TRUE(d.starts_with(home.location().libraryFolder + "/" + paths.derivativePrefix)) << d;

  const auto stored = CatalogReader::open(home.location())->storedAsset(*writer->catalog().assetRow(id->identifier));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->original.path, copy);
  EXPECT_EQ(stored->original.size, std::optional<std::uint64_t>(13));
  EXPECT_EQ(stored->original.sha256, digestOfFile(copy)->sha256);
  EXPECT_EQ(stored->derivatives.size(), 2u);
  // Nothing but the copy and its derivatives: no temporary file is left.
  EXPECT_EQ(libraryFiles(home.location()).size(), 3u);
}

// The record fails at its first, middle and last insert.
class FailedRecord : public LibraryWriterTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedRecord, RemovesTheCopyAndTheDerivatives) {
  auto catalog = testing::CatalogFixture::open(home.location().catalogPath);
  ASSERT_TRUE(catalog) << catalog.message();
  ASSERT_TRUE(catalog->refuseInsertsInto(GetParam()).ok());
  const auto id = writer->importFile(source, {});
  EXPECT_FALSE(id);
  EXPECT_EQ(id.message(), "cannot record the asset in the catalog: refused by the test");
  EXPECT_EQ(media.derivatives.size(), 2u) << "the derivatives were made before the record failed";
  EXPECT_EQ(libraryFiles(home.location()), std::vector<std::string>{});
  EXPECT_EQ(assetCount(home.location()), 0u) << "the asset row went with its transaction";
  EXPECT_EQ(testing::readFileBytes(source), "picture bytes");
}

INSTANTIATE_TEST_SUITE_P(Tables, FailedRecord,
                         ::testing::Values(catalog::kResource.table, catalog::kDerivative.table,
                                           catalog::kMembership.table));

// The disk fills up while the catalog is written: each write says so, with
// the kind a caller acts on, and an import leaves no file behind.
TEST(LibraryOnAFullDisk, EveryWriteSaysTheDiskIsFull) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  testing::FullDiskVfs disk;  // before the catalog is opened
  RecordingMedia media;
  const std::string first = home.folder("media") + "/Beach.PNG", second = home.folder("media") + "/Dunes.PNG";
  ASSERT_TRUE(testing::writeFileBytes(first, "picture bytes"));
  ASSERT_TRUE(testing::writeFileBytes(second, "other picture bytes"));
  auto writer = LibraryWriter::open(home.location(), &media);
  ASSERT_TRUE(writer) << writer.message();
  CatalogWriter& catalog = (*writer)->catalog();
  const auto imported = (*writer)->importFile(first, {});
  ASSERT_TRUE(imported) << imported.message();
  const auto asset = catalog.assetRow(imported->identifier);
  const auto album = catalog.createAlbum(std::string("Trip"));
  ASSERT_TRUE(album && asset) << album.message() << asset.message();
  const auto albumRow = catalog.albumRow(*album);
  ASSERT_TRUE(albumRow) << albumRow.message();
  const auto files = libraryFiles(home.location());
  disk.setFull(true);
  const std::pair<const char*, std::function<Status()>> writes[] = {
      {"import", [&] { return (*writer)->importFile(second, {}).status(); }},
      {"create", [&] { return catalog.createAlbum(std::string("More")).status(); }},
      {"rename", [&] { return catalog.renameAlbum(*albumRow, std::string("Trip 2")); }},
      {"favourite", [&] { return catalog.setFavorite({*asset}, true); }},
  };
  for (const auto& [what, write] : writes) {
    const Status written = write();
    EXPECT_EQ(written.code(), ErrorCode::noSpace) << what << ": " << written.message();
    EXPECT_NE(written.message().find("No space left on device (on the device holding " + home.catalogPath() + ")"),
              std::string::npos)
        << what << ": " << written.message();
  }
  EXPECT_EQ(libraryFiles(home.location()), files) << "the import left nothing";
  disk.setFull(false);
  const auto later = (*writer)->importFile(second, {});
  EXPECT_TRUE(later) << "room again: " << later.message();
}

TEST_F(LibraryWriterTest, AFileTheMediaModuleRefusesIsNeitherCopiedNorRecorded) {
  // Refused bytes that are no media are skipped; refused bytes that start
  // like a JPEG are a damaged picture, which fails.
  media.refuse = true;
  const auto skipped = writer->importFile(source, {});
  ASSERT_TRUE(skipped) << skipped.message();
  EXPECT_EQ(skipped->outcome, LibraryWriter::Imported::Outcome::notMedia);
  ASSERT_TRUE(testing::writeFileBytes(source, "\xFF\xD8\xFF\xE0 truncated"));
  EXPECT_EQ(writer->importFile(source, {}).message(), kUnreadableMedia);
  EXPECT_EQ(libraryFiles(home.location()), std::vector<std::string>{});
  EXPECT_EQ(assetCount(home.location()), 0u);
}

TEST_F(LibraryWriterTest, AnUnreadableSourceLeavesNoPartialCopy) {
  const std::string folder = home.folder("media/folder.png");  // probed by the fake, but no regular file to copy
  const auto id = writer->importFile(folder, {});
  EXPECT_TRUE(id.message().starts_with("cannot read the file: ")) << id.message();
  EXPECT_EQ(libraryFiles(home.location()), std::vector<std::string>{});
}

struct ExtensionCase {
  const char* path;
  const char* typeIdentifier;
  const char* extension;
};

class CopyExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(CopyExtension, SourcesOwnWhenPlainElseTheFormatsOwn) {
  EXPECT_EQ(copyExtension(GetParam().path, GetParam().typeIdentifier), GetParam().extension);
}

INSTANTIATE_TEST_SUITE_P(Names, CopyExtension,
                         ::testing::Values(ExtensionCase{"/a/IMG_1.JPG", "public.jpeg", ".jpg"},
                                           ExtensionCase{"/a/clip.MoV", "public.mpeg-4", ".mov"},
                                           ExtensionCase{"/a/scan", "public.tiff", ".tiff"},
                                           ExtensionCase{"/a/photo.he-ic", "public.heic", ".heic"},
                                           ExtensionCase{"/a/x.verylongext", "org.webmproject.webp", ".webp"},
                                           ExtensionCase{"/a/song.", "public.mp3", ".mp3"},
                                           ExtensionCase{"/a.d/noext", "public.unknown", ""}));

// Catalogs of versions 2 (no sizes, no hashes), 3 (no sources), 4 (no
// kinds of source), 5 (no original sizes with the derivatives) and 6 (no
// pairs).
class OlderCatalog : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(OlderCatalog, IsReadThenMigratedInPlaceAfterABackup) {
  if (!testing::haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to read the catalog's version";
  const std::int64_t version = GetParam();
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  home.import(home.picture("a.png", "png"));
  ASSERT_FALSE(HasFailure()) << "the library could not be made";
  const std::string catalog = home.location().catalogPath;
  {
    auto older = testing::CatalogFixture::open(catalog);
    ASSERT_TRUE(older) << older.message();
    ASSERT_TRUE(older->downgradeToVersion(version).ok());
  }

  auto reader = CatalogReader::open(home.location());
  ASSERT_TRUE(reader->isOpen()) << "the helper reads version " << version;
  std::int64_t handle = 0;
  reader->forEachAsset(AssetQuery{}, [&](const Asset& asset) {
    handle = asset.handle;
    return true;
  });
  const auto old = reader->storedAsset(handle);
  ASSERT_TRUE(old);
  EXPECT_FALSE(old->original.path.empty());
  EXPECT_EQ(old->original.size.has_value(), version >= 3);
  EXPECT_EQ(old->original.sha256.empty(), version < 3);
  reader.reset();

  // Any write of the tool migrates it, filling in what it can read, after
  // keeping the catalog as it was.
  const auto r = home.runTool({"album", "create", "Later"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(testing::sqliteQuery(catalog, "PRAGMA user_version;"),
            std::optional<std::vector<std::string>>({std::to_string(kCatalogSchemaVersion)}));
  const std::string backup = home.libraryFolder() + "/catalog-v" + std::to_string(version) + "-backup.sqlite";
  EXPECT_EQ(testing::sqliteQuery(backup, "PRAGMA user_version;"),
            std::optional<std::vector<std::string>>({std::to_string(version)}));
  const auto migrated = CatalogReader::open(home.location())->storedAsset(handle);
  ASSERT_TRUE(migrated);
  const auto digest = digestOfFile(migrated->original.path);
  ASSERT_TRUE(digest.ok());
  EXPECT_EQ(migrated->original.size, std::optional<std::uint64_t>(digest->size));
  EXPECT_EQ(migrated->original.sha256, digest->sha256);
  ASSERT_FALSE(migrated->derivatives.empty());
  for (const auto& d : migrated->derivatives) EXPECT_EQ(d.bytes, std::optional<std::uint64_t>(fs::file_size(d.path)));

  for (const auto& d : migrated->derivatives) EXPECT_EQ(d.originalSize.has_value(), version >= 6) << "known from 6";
  // Derivatives of an unknown quality or original size (made before they
  // were sRGB and sized from it) are made again by the next sync.
  ASSERT_EQ(home.runTool({"add", home.folder("empty-source")}).exitStatus, 0);
  const auto renewed = CatalogReader::open(home.location())->storedAsset(handle);
  ASSERT_TRUE(renewed && !renewed->derivatives.empty());
  for (const auto& d : renewed->derivatives) {
    EXPECT_EQ(d.quality, std::optional<int>(kDerivativeQualityPercent));
    EXPECT_EQ(d.originalSize, std::optional<PixelSize>(PixelSize{64, 48}));
    EXPECT_TRUE(fs::exists(d.path)) << d.path;
  }
  for (const auto& d : migrated->derivatives) EXPECT_EQ(fs::exists(d.path), version >= 6) << "replaced: " << d.path;
}

INSTANTIATE_TEST_SUITE_P(Versions, OlderCatalog, ::testing::Values(2, 3, 4, 5, 6));

// Holds whoever calls wait() until open(); tells when the first one came.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
  }
  bool reachedWithin(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return reached_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  ~Gate() { open(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false, open_ = false;
};

// While a sync examines a file (hashing a large video takes minutes), it
// holds the sources lock but not the writer lock: other writers get in
// between its batches, and what they do there (an album, an import of the
// same content, the orphans cleared) leaves the sync's work whole.
TEST(SyncAndOtherWriters, ExaminingAFileHoldsNoWriterLock) {
  using namespace std::chrono_literals;
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string folder = home.folder("Pictures");
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    ASSERT_TRUE(testing::writeFileBytes(folder + "/" + name, std::string("bytes of ") + name));
  }
  ASSERT_TRUE(testing::writeFileBytes(home.folder("media") + "/b-copy.png", "bytes of b.png"));
  RecordingMedia media;
  Gate gate;
  media.onProbe = [&](const std::string& path) {
    if (path == folder + "/b.png") gate.wait();
  };
  std::vector<SyncEvent> events;
  auto sync = std::async(std::launch::async, [&]() -> Result<SyncTally> {
    auto writer = LibraryWriter::open(home.location(), &media, LibraryWriter::Sources::change);
    if (!writer) return writer.status();
    auto source = (*writer)->addSource(folder);
    if (!source) return source.status();
    SyncObserver observer;
    observer.changed = [&](const SyncEvent& event) { events.push_back(event); };
    return (*writer)->sync({source->source}, observer);
  });
  // Opened at the latest as the test ends (before the sync is waited for), so the sync always ends.
  const std::unique_ptr<Gate, void (*)(Gate*)> openAtEnd(&gate, [](Gate* g) { g->open(); });
  ASSERT_TRUE(gate.reachedWithin(30s)) << "b is being examined";
  EXPECT_EQ(FileLock::acquire(home.location().sourcesLockPath, 0ms).message(), kLockBusy);
  // a's batch is committed once due, and the writer lock let go of.
  ASSERT_TRUE(testing::eventually([&] { return FileLock::acquire(home.location().writerLockPath, 0ms).ok(); }));
  // c is examined on the other thread meanwhile, its derivatives made but not yet recorded.
  const bool twoThreads = std::thread::hardware_concurrency() >= 2;
  if (twoThreads) {
    ASSERT_TRUE(testing::eventually([&] { return media.derivativesMade() == 4; }));
  }
  std::string imported;
  {
    RecordingMedia otherMedia;
    auto other = LibraryWriter::open(home.location(), &otherMedia);
    ASSERT_TRUE(other) << other.message();
    ASSERT_TRUE((*other)->catalog().createAlbum(std::string("Meanwhile")));
    auto copy = (*other)->importFile(home.folder("media") + "/b-copy.png", {});
    ASSERT_TRUE(copy) << copy.message();
    imported = copy->identifier;
    (*other)->removeOrphans();
  }
  const std::vector<std::string> made = media.derivatives;
  for (const std::string& path : made) EXPECT_TRUE(fs::exists(path)) << "not an orphan yet: " << path;
  gate.open();
  const auto tally = sync.get();
  ASSERT_TRUE(tally) << tally.message();
  EXPECT_EQ(tally->added, 3u);
  const auto b = std::find_if(events.begin(), events.end(), [&](const SyncEvent& e) { return e.path == folder + "/b.png"; });
  ASSERT_NE(b, events.end());
  EXPECT_EQ(b->assetIdentifier, imported) << "b's content was imported meanwhile: the same asset";
  EXPECT_EQ(assetCount(home.location()), 3u);
  auto reader = CatalogReader::open(home.location());
  EXPECT_EQ(reader->collections(CollectionType::album, kCollectionSubtypeAny).size(), 2u) << "Meanwhile and Pictures";
  std::size_t recorded = 0;
  reader->forEachAsset(AssetQuery{}, [&](const Asset& asset) {
    const auto stored = reader->storedAsset(asset.handle);
    for (const auto& d : stored ? stored->derivatives : std::vector<StoredDerivative>{}) {
      EXPECT_TRUE(fs::exists(d.path)) << d.path;
      ++recorded;
    }
    return true;
  });
  EXPECT_EQ(recorded, 6u);
  EXPECT_TRUE(FileLock::acquire(home.location().sourcesLockPath, 0ms).ok()) << "let go of at the end";
}

TEST(LibraryUpkeep, ImportClearsWhatKilledImportsLeft) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string outside = home.picture("kept.png", "png");
  home.import(outside);
  ASSERT_FALSE(HasFailure()) << "the library could not be made";
  const auto& where = home.location();
  const std::vector<std::string> named = testing::treeOf(where.libraryFolder, testing::TreeEntries::regularFiles);
  // A copy whose row was never committed, a half-written derivative, a link.
  fs::create_directories(where.originalsFolder + "/zz");
  fs::create_directories(where.derivativesFolder + "/zz");
  const std::vector<std::string> orphans = {where.originalsFolder + "/zz/ORPHAN.jpg",
                                            where.originalsFolder + "/zz/ORPHAN.jpg.partial",
                                            where.derivativesFolder + "/zz/.tolvek-1-2-3.partial"};
  for (const auto& path : orphans) ASSERT_TRUE(testing::writeFileBytes(path, "left over"));
  ASSERT_EQ(::symlink(outside.c_str(), (where.originalsFolder + "/zz/link.png").c_str()), 0);

  home.import(home.picture("next.png", "png"));
  ASSERT_FALSE(HasFailure()) << "the second import failed";
  for (const auto& path : orphans) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_FALSE(fs::is_symlink(where.originalsFolder + "/zz/link.png"));
  EXPECT_TRUE(fs::exists(outside)) << "a link is removed, never what it names";
  for (const auto& path : named) EXPECT_TRUE(fs::exists(path)) << path;
}

}  // namespace
}  // namespace tolvek
