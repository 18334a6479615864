#pragma once
// The library tool's side of the catalog: it creates the catalog on first
// use (WAL, so readers never wait for an import) and makes every change in
// one transaction, so an interrupted tool leaves no half-written asset.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_transaction.h"
#include "platform/catalog/content_hash.h"
#include "platform/system/library_location.h"
#include "platform/posix/posix_file.h"
#include "platform/catalog/referenced_copy.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/catalog/stored_asset.h"
#include "platform/sources/source.h"

namespace tolvek {

// An asset whose files are already in the library; paths are relative to
// the library folder (a derivative's may be absolute inside it: it is
// recorded relative).
struct NewAsset {
  MediaType mediaType = MediaType::unknown;
  std::optional<std::int64_t> creationDate;
  std::string originalFilename;
  std::string uniformTypeIdentifier;
  std::string originalPath;  // empty: the library holds no copy (referenced in place)
  ContentDigest original;    // of the library's copy, or of the referenced file
  std::vector<StoredDerivative> derivatives;
  // What pairs it with another asset (sources/pair_rule.h): Apple's content
  // identifier ("" for none) and a video's length.
  std::string contentIdentifier{};
  std::optional<std::int64_t> durationMs{};
};

// One asset with a copy directly in a folder, as the pairing rule sees it,
// and the asset it is now a half of.
struct FolderAsset {
  std::int64_t row = 0;
  std::string name;
  MediaType mediaType = MediaType::unknown;
  std::string typeIdentifier;
  std::string contentIdentifier;
  std::optional<std::int64_t> durationMs;
  std::optional<std::int64_t> pairedTo;
  // False for an asset recorded before the catalog kept what pairs files
  // (version 7): its content identifier and length are not known.
  bool factsKnown = true;
  RecordedCopy copy;  // its copy in the folder, as recorded
};

// The one writer of a library. It holds the library's writer lock
// (writer.lock) from open to destruction, so no other tool run changes the
// catalog or the library's files meanwhile (readers never take it); a sync
// holds it only while a batch is open (holdLockOnlyInBatches).
//
// Every failure of SQLite is recorded on the connection (guardConnection):
// once SQLite reports the catalog damaged, from any statement, the writer
// writes nothing more, and each later failure says that the catalog is
// damaged and where its last backup is (ErrorCode::damaged).
//
// SQLite's quick check reads the whole catalog (0.2 s for 100,000 assets,
// against 0.01 s for a command such as album list), so open runs it only
// when the catalog's files are not as the last writer that held the lock
// for its whole run left them sound ("catalog.checked" beside them: each
// file's inode, size and change time, which every write moves and no tool
// sets back): after something else wrote to them (a failing disk, another
// program), after a writer that died, or after a sync (which lets go of the
// lock between its batches) that found them changed when it took the lock
// again. Damage that arrives while a writer runs is met by its statements,
// by the next open after a later change, or by status.
class CatalogWriter {
 public:
  // How long open (and a batch's begin) waits for another writer to finish.
  static constexpr std::chrono::milliseconds kWriterLockWait{30000};

  // Takes the writer lock, then opens the catalog, creating the library
  // folders and the catalog when missing and migrating an older one in
  // place; checks it when it changed since a writer left it (see above).
  // Fails with the reason when it cannot (or it is newer, or damaged).
  static Result<std::unique_ptr<CatalogWriter>> open(const LibraryLocation& location);
  // Records the catalog as sound when this writer held the lock throughout
  // and met no damage (see above).
  ~CatalogWriter();
  CatalogWriter(const CatalogWriter&) = delete;
  CatalogWriter& operator=(const CatalogWriter&) = delete;

  // SQLite's quick check of the whole catalog: nothing when it is sound,
  // else the first problems it found, after which the writer treats the
  // catalog as damaged.
  Result<std::vector<std::string>> quickCheck();
  // Whether SQLite reported the catalog damaged since it was opened.
  bool damaged() const;

  // From now on the writer lock is held only while a batch is open: it is
  // let go of now and after each batch ends, and taken
  // again by beginBatch (waiting at most kWriterLockWait). Meanwhile the
  // connection is query-only, so that a change outside a batch fails rather
  // than being made without the lock. For a sync, which examines files (a
  // large video takes minutes to hash) between its batches: the other
  // writers (album edits, favourites, import) get their turn in between.
  void holdLockOnlyInBatches();
  // Ends holdLockOnlyInBatches: takes the writer lock again (waiting at most
  // kWriterLockWait) and holds it to the end, the connection writable again.
  // For a command that reads at length (hashes files) before its change.
  Status holdLockThroughout();

  // Records the asset under `identifier`, in the moment of its capture day
  // (local time) and in `albumRow` when given; nothing is recorded when it
  // fails ("cannot record the asset in the catalog").
  Status addAsset(const std::string& identifier, const NewAsset& asset, std::optional<std::int64_t> albumRow);

  // A new album; its identifier ("cannot create the album" on failure).
  Result<std::string> createAlbum(const std::optional<std::string>& title);
  // The row of the album the user can edit (albums only: not smart albums,
  // moments or the albums of folders) with this identifier ("no album with
  // the identifier ..." when there is none; a smart album, a folder's album
  // or a manager's is named as such).
  Result<std::int64_t> albumRow(const std::string& identifier);
  // The same for an asset ("no asset with the identifier ...",
  // ErrorCode::notFound).
  Result<std::int64_t> assetRow(const std::string& identifier);
  // The identifier of the asset in `assetRow`.
  Result<std::string> assetIdentifier(std::int64_t assetRow);
  // Whether the asset in `assetRow` is there.
  Result<bool> hasAsset(std::int64_t assetRow);
  // Appends the assets to the album in the order given; adding one again
  // changes nothing. One transaction.
  Status addToAlbum(std::int64_t albumRow, const std::vector<std::int64_t>& assetRows);
  // The asset's original as recorded (paths absolute); fails when the asset
  // has none (ErrorCode::notFound) or it cannot be read.
  Result<StoredOriginal> original(std::int64_t assetRow);
  // Points the asset's original at `url` and forgets the local copy,
  // recording `content` as what the URL serves; gives the relative path of
  // that copy ("" when there was none).
  Result<std::string> offloadOriginal(std::int64_t assetRow, const std::string& url, const ContentDigest& content);
  // Every file of originals/ and derivatives/ that a catalog row names
  // (paths relative to the library folder).
  Result<std::vector<std::string>> namedFiles();

  // The asset whose content this is, if any: its row, its identifier and
  // whether the library holds a copy of its own.
  struct ContentOwner {
    std::int64_t row = 0;
    std::string identifier;
    bool ownCopy = false;
  };
  Result<std::optional<ContentOwner>> assetWithContent(const ContentDigest& content);

  // ---- The asset a file names (catalog_paths.cpp) ----
  struct PathOwner {
    std::optional<std::int64_t> row;  // nothing: the library knows no such file
    std::string identifier;
    // When nothing: why the file itself could not be read ("" when it was
    // read and its content is none of the library's).
    std::string unread;
  };
  // The asset shown for the file at `path`: a copy in a source recorded at
  // it (the path made absolute and plain, no link of the user's followed;
  // then again with its folder's links resolved, as sources are recorded by
  // their real paths), else the asset with the content of the regular file
  // there (a copy in the library, or an imported file's original anywhere).
  // A half of a pair names its pair's asset. A symbolic link (the sync skips
  // links to files), folder, FIFO or device is not read, nor waited on.
  // Fails only when the catalog cannot be read.
  Result<PathOwner> assetOfPath(const std::string& path);
  // The asset shown for the asset at `assetRow`: itself, or for a half of a
  // pair (a Live Photo's movie, a RAW beside its JPEG) the pair it belongs
  // to, which is what the helper lists and a limited access must name.
  struct ShownAsset {
    std::int64_t row = 0;
    std::string identifier;
  };
  Result<ShownAsset> shownAsset(std::int64_t assetRow);
  // Makes the library's copy at `relativePath` the asset's own original.
  Status adoptCopy(std::int64_t assetRow, const std::string& relativePath);

  // ---- The tool's edits (catalog_edits.cpp), each one transaction ----
  struct AlbumEntry {
    std::string identifier;
    std::optional<std::string> title;  // nothing: untitled
    std::int64_t count = 0;            // assets in it
    // The kind of source whose folder, event or tag it is; nothing for the
    // user's own albums and the smart albums.
    std::optional<SourceKind> source;
    // How it finds its assets: members for every album but the smart ones.
    CollectionRule rule = CollectionRule::members;
  };
  // The smart albums (favourites, videos), then every album (the user's and
  // the sources'), each in the order they were made.
  Result<std::vector<AlbumEntry>> albums();
  Status renameAlbum(std::int64_t albumRow, const std::optional<std::string>& title);
  // Deletes the album; its assets stay in the library.
  Status deleteAlbum(std::int64_t albumRow);
  // Takes the assets out of the album; one that is not in it is ignored.
  Status removeFromAlbum(std::int64_t albumRow, const std::vector<std::int64_t>& assetRows);
  Status setFavorite(const std::vector<std::int64_t>& assetRows, bool favorite);
  // Removes the assets from the library with their derivatives, their
  // originals' copies in the library and their memberships, and the moments
  // left empty. Files that no row names any more are added to `unlinkAfter`
  // (absolute paths), for the caller to remove once this returned ok. The
  // caller makes sure no source holds a copy (see referencingFolder).
  Status removeAssets(const std::vector<std::int64_t>& assetRows, std::vector<std::string>& unlinkAfter);
  struct Counts {
    std::int64_t schemaVersion = 0;
    std::int64_t assets = 0;
    std::int64_t albums = 0;  // the user's and the folders'
  };
  Result<Counts> counts();

  // ---- Sources: folders whose files the library references in place, ----
  // and other photo managers' databases naming such files
  // (catalog_sources.cpp; the values are in platform/sources/source.h).
  Result<std::vector<Source>> sources();  // in the order they were added
  // True once a source was ever added, even when every one is forgotten since.
  Result<bool> anySourceEverAdded();
  Result<std::int64_t> addSource(const std::string& path, std::int64_t device, SourceKind kind = SourceKind::folder);
  Status recordSourceDevice(std::int64_t sourceRow, std::int64_t device);
  // The number of assets with a copy in the source.
  Result<std::int64_t> assetCountOf(std::int64_t sourceRow);
  // The folder (absolute) holding the asset's first copy in a source;
  // nothing when no source holds one.
  Result<std::optional<std::string>> referencingFolder(std::int64_t assetRow);

  // The source's files in byte order of their paths; only those that are
  // copies of an asset when `assetsOnly`.
  Result<std::vector<SourceFile>> filesOf(std::int64_t sourceRow, bool assetsOnly = false);
  // The source's files one at a time, in byte order of their paths: what a
  // sync merges with its walk without holding every row. Read while no batch
  // of this writer is open; it must not outlive its writer.
  class FileRows {
   public:
    // The next row; false at the end or when the catalog could not be read.
    bool next(SourceFile& file);
    // Failed when the rows could not be read.
    Status status() const;

   private:
    friend class CatalogWriter;
    FileRows(sqlite3* db, std::unique_ptr<SqliteStatement> select) : db_(db), select_(std::move(select)) {}
    sqlite3* db_;
    std::unique_ptr<SqliteStatement> select_;
  };
  // Those after the path `after` when given.
  FileRows fileRows(std::int64_t sourceRow, const std::optional<std::string>& after = std::nullopt);
  // Those directly in the folder `folder` (relative, "" the root) of a folder
  // source, or (with `below`) at any depth below it.
  FileRows fileRowsIn(std::int64_t sourceRow, const std::string& folder, bool below);
  // Whether a file of the source is a copy of an asset.
  Result<bool> holdsAssets(std::int64_t sourceRow);
  // Whether a folder of the source below its root is recorded on another
  // device than `device` (a mount point).
  Result<bool> holdsMountPoints(std::int64_t sourceRow, std::int64_t device);
  Result<std::vector<SourceFolder>> foldersOf(std::int64_t sourceRow);
  // Every recorded content hash (of every asset).
  Result<std::vector<std::string>> contentHashes();
  struct DerivativeWork {
    std::int64_t assetRow = 0;
    std::string identifier;
    MediaType mediaType = MediaType::unknown;
    std::string originalPath;  // absolute, the library's own copy; else "" and:
    std::vector<RecordedCopy> copies;  // its copies in sources
    std::string sha256;                // of its content
  };
  // Assets whose derivatives were made with another quality than
  // kDerivativeQualityPercent (or before it was recorded), or before the
  // size of their original was (then neither sRGB nor sized from it), with
  // a local original or a copy in a source.
  Result<std::vector<DerivativeWork>> outdatedDerivatives();

  // A transaction over several of the calls below, with the writer lock
  // held (taken again when it is held only in batches). Rolled back when it
  // is destroyed uncommitted, so nothing of it is kept when the caller
  // returns early or the process dies before commit. One at a time, on the
  // writer's thread; it must not outlive its writer.
  class Batch {
   public:
    Batch(Batch&& other) noexcept
        : writer_(std::exchange(other.writer_, nullptr)), transaction_(std::move(other.transaction_)) {}
    Batch& operator=(Batch&&) = delete;
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch() { end(); }
    // Commits and lets go of the lock; a failed commit is rolled back.
    // Nothing is open afterwards either way.
    [[nodiscard]] Status commit();

   private:
    friend class CatalogWriter;
    Batch(CatalogWriter& writer, CatalogTransaction transaction)
        : writer_(&writer), transaction_(std::move(transaction)) {}
    void end();
    CatalogWriter* writer_;
    CatalogTransaction transaction_;
  };
  // Refused once the catalog was reported damaged.
  Result<Batch> beginBatch();
  // Within a batch. Files that rows no longer name are added to `unlinkAfter`
  // (absolute paths), for the caller to remove once the batch committed.
  Result<std::int64_t> folderRow(std::int64_t sourceRow, const std::string& path, std::int64_t device);
  Result<std::int64_t> insertAsset(const std::string& identifier, const NewAsset& asset);
  // New content for an existing asset (its identifier stays).
  Status renewAsset(std::int64_t assetRow, const NewAsset& asset, std::vector<std::string>& unlinkAfter);
  // What one more copy of the asset tells of its capture: `date`, the date
  // its content carries when `fromContent` (which every copy shares, so it
  // is the asset's), else one that makes the asset's date only earlier.
  Status settleCreationDate(std::int64_t assetRow, std::int64_t date, bool fromContent);
  Status replaceDerivatives(std::int64_t assetRow, const std::vector<StoredDerivative>& derivatives,
                            std::vector<std::string>& unlinkAfter);
  // Records the file as it is now, a copy of `assetRow` (or of nothing),
  // and makes it a member of its folder's album.
  Status recordFile(std::int64_t sourceRow, std::int64_t folderRow, const SourceFile& file);
  // Forgets the file; its asset leaves the folder's album when no other copy
  // sits there, and (unless `keepAsset`) the library when it has no copy left
  // at all.
  Status removeFile(std::int64_t fileRow, std::vector<std::string>& unlinkAfter, bool keepAsset = false);
  // Removes the asset, with its derivatives, when it has no copy left.
  Status removeAssetIfUnheld(std::int64_t assetRow, std::vector<std::string>& unlinkAfter);
  // True when the file is the asset's only copy (the library holds none).
  Result<bool> isOnlyCopy(std::int64_t assetRow);
  // Names an asset the library holds no copy of after its first copy in a
  // source (walk order) that is not one of `passedOver` (file rows whose
  // content is not the asset's now), so the name shown is that of the file
  // read; unchanged when every copy is passed over.
  Status nameAfterFirstCopy(std::int64_t assetRow, const std::unordered_set<std::int64_t>& passedOver);
  // ---- Pairs (catalog_pairs.cpp), within a batch ----
  // The assets with a copy directly in `absoluteFolder`, whichever sources
  // name it, in the order of their rows.
  Result<std::vector<FolderAsset>> assetsInFolder(const std::string& absoluteFolder);
  // Makes `half` a resource of `primary`: it leaves every listing, album and
  // moment. The pair keeps the older identifier of the two (the primary
  // takes the half's when the half was recorded first), the favourite of
  // either and the albums of both.
  Status pairAssets(std::int64_t primary, std::int64_t half);
  // `half` is an asset of its own again, in its moment and folders' albums.
  Status unpairAsset(std::int64_t half);
  // Every half of a pair with the asset it belongs to.
  Result<std::unordered_map<std::int64_t, std::int64_t>> pairedHalves();
  // What pairs the asset, learnt after it was recorded: Apple's content
  // identifier ("" for none) and a video's length.
  Status recordPairFacts(std::int64_t assetRow, const std::string& contentIdentifier,
                         std::optional<std::int64_t> durationMs);
  // The sources whose folders are still to be paired since the catalog was
  // migrated to version 7 (catalog::kUnpairedSource), and the end of that for
  // one of them (and for any source forgotten meanwhile).
  Result<std::vector<std::int64_t>> unpairedSources();
  Status sourcePaired(std::int64_t sourceRow);

  // Removes the albums of folders that no longer hold a copy, empty moments
  // and folders that hold nothing.
  Status pruneEmptyCollections();
  // Within a batch: makes the source's albums these, each keeping its
  // identifier across syncs (one made from the source's path and the key);
  // members that stay keep their place; albums without members, and albums
  // no longer given, go. A folder's album (its key made by folderAlbumKey)
  // is the one album of that folder whichever sources name it: titled by a
  // folder source when one names it, and keeping the members other sources
  // hold copies of in the folder.
  Status replaceSourceAlbums(const Source& source, const std::vector<SourceAlbum>& albums);
  // Removes the source with its folders, files and albums, and every asset
  // found only through it.
  Status forgetSource(std::int64_t sourceRow, std::vector<std::string>& unlinkAfter);

 private:
  CatalogWriter(FileLock lock, SqliteConnection db, const LibraryLocation& location)
      : lock_(std::move(lock)), db_(std::move(db)), libraryFolder_(location.libraryFolder),
        lockPath_(location.writerLockPath), catalogPath_(location.catalogPath) {}
  // Takes the writer lock again when it was let go of (holdLockOnlyInBatches).
  Status holdLock();
  // Lets go of the writer lock after a batch when it is held only in batches.
  void releaseLockAfterBatch();
  // The private steps below fail with "cannot WHAT in the catalog: ...",
  // WHAT being the public change they are a step of.
  Status addMembership(std::int64_t collectionRow, std::int64_t assetRow, std::optional<std::int64_t> date,
                       MediaType mediaType, const char* what);
  Result<std::int64_t> insertAssetRows(const std::string& identifier, const NewAsset& asset, const char* what);
  // Derivative paths are recorded relative to the library folder.
  Status insertDerivativeRows(std::int64_t assetRow, const std::vector<StoredDerivative>& derivatives,
                              const char* what);
  Result<std::int64_t> momentRow(std::int64_t creationDate, const char* what);
  Status removeUnheldAsset(std::int64_t assetRow, std::vector<std::string>& unlinkAfter, const char* what);
  // Before an asset goes: its first half, if any, carries on under
  // its identifier, with its albums and favourite; the others stand alone.
  Status handOverPair(std::int64_t assetRow, const char* what);
  // Gives `to` the identifier, favourite and album memberships (not moments
  // or folders' albums) of `from`, and `from` the identifier of `to`.
  Status swapIdentity(std::int64_t to, std::int64_t from, const char* what);
  // Moves the memberships of `from` in albums (not moments or folders'
  // albums) to `to`, and drops the rest.
  Status moveMemberships(std::int64_t from, std::int64_t to, const char* what);
  Status ensureFolderAlbum(std::int64_t folderRow, std::int64_t assetRow, const char* what);
  // `collection`, which the source no longer gives for `key`, goes with its
  // members; unless another source names the same folder, when only the
  // members no other copy in the folder holds leave it.
  Status dropSourceCollection(std::int64_t sourceRow, const std::string& key, std::int64_t collection);
  // forgetSource's changes, within its batch.
  Status forgetSourceRows(std::int64_t sourceRow, std::vector<std::string>& unlinkAfter);
  // Gives the asset `date`, in its memberships and moment too (its type is
  // copied there with it).
  Status redate(std::int64_t assetRow, std::optional<std::int64_t> date, MediaType type, const char* what);
  // Deletes the asset's rows, adding the files they named to `unlinkAfter`.
  Status deleteAsset(std::int64_t assetRow, std::vector<std::string>& unlinkAfter, const char* what);
  // The files `deleted` (a DELETE ... RETURNING path) named, added to
  // `unlinkAfter` as absolute paths.
  Status collectDeletedFiles(SqliteStatement& deleted, std::vector<std::string>& unlinkAfter, const char* what);
  std::optional<FileLock> lock_;  // released after db_ closes (members go in reverse order)
  SqliteConnection db_;
  std::string libraryFolder_;
  std::string lockPath_;
  std::string catalogPath_;
  bool sound_ = false;  // found sound at open (checked, or unchanged since a writer left it so)
  bool lockOnlyInBatches_ = false;
  // While the lock is held only in batches: the catalog's files as the last
  // batch left them, and whether they were otherwise when it was taken again.
  std::string leftAs_;
  bool othersWrote_ = false;
};

}  // namespace tolvek
