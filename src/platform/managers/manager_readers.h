#pragma once
// The readers behind the rows of photo_managers.h, one per photo manager,
// each reading a private snapshot of the manager's database, and the pieces
// they share. Declared here for the table and for the tests.
#include <sqlite3.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/status.h"
#include "platform/managers/manager_catalog.h"
#include "platform/system/mount_table.h"

namespace tolvek::managers {

// The longest album title a manager's database gives, in bytes: a tag name
// of megabytes is someone's mistake or an attack, never a title to show.
inline constexpr std::size_t kMaxTitleBytes = 1024;

// The deepest levels of a tag's path that make its title ("…/" stands for
// the rest): no one sorts photos 32 levels deep, and a chain of thousands of
// tags would otherwise make titles of thousands of names each.
inline constexpr std::size_t kMaxTagDepth = 32;

// At most `maxBytes` bytes of `text`, made valid UTF-8; when it had to be
// cut, cut at a character boundary and ended with "…".
std::string boundedText(std::string_view text, std::size_t maxBytes);

// Collects a catalog: each path once (a second row with the same path maps
// to the first one's index, and gives it its date when earlier), albums
// with their members each once and in asset order and titles of at most
// kMaxTitleBytes, albums without members dropped.
class CatalogBuilder {
 public:
  // The index of the asset at `path`; a path that is empty, relative or holds
  // a NUL byte is no asset: counted as left out, nothing returned.
  std::optional<std::size_t> add(std::string path, std::optional<std::int64_t> creationDate);
  void leaveOut() { ++catalog_.leftOut; }
  // Left out because its volume is not found here.
  void leaveOutUnavailable() {
    ++catalog_.leftOut;
    ++catalog_.unavailable;
  }
  // Room for `assets` more assets, so a large catalog is not rehashed as it grows.
  void reserve(std::size_t assets);
  void addAlbum(std::string key, ManagerAlbumKind kind, std::optional<std::string> title,
                std::vector<std::size_t> members);
  ManagerCatalog finish(std::int64_t schemaVersion) &&;

 private:
  // An open-addressing table of asset indices by path: no allocation per
  // asset, and each path stored once, in its asset.
  std::size_t slotOf(std::string_view path, std::uint64_t hash) const;
  // Room for `assets` assets at most half filling the table.
  void grow(std::size_t assets);
  ManagerCatalog catalog_;
  std::vector<std::uint64_t> hashes_;  // of each asset's path
  std::vector<std::uint32_t> slots_;   // asset index + 1; 0 is free
};

// True when the snapshot has a table of that name.
bool hasTable(sqlite3* db, const char* table);

// The version `program`'s database records: the first column of the first
// row of `query`, once the snapshot has every table of `tables`. Fails with
// "it is not a PROGRAM database (it has no TABLE)", "(it records no
// VERSION_NAME)", or the database named damaged.
Result<std::string> recordedVersion(sqlite3* db, std::string_view program, std::span<const char* const> tables,
                                    const char* query, std::string_view versionName);

// The schema version a manager records, `text` as stored, when it is one of
// `oldest` to `newest`. Otherwise a message naming it as `what` ("Shotwell
// schema version 25 is newer than this program reads (20 to 24)"); a version
// that is not a whole decimal number is not a version this program reads.
Result<std::int64_t> knownVersion(std::string_view what, std::string_view text, std::int64_t oldest,
                                  std::int64_t newest);

// The user's home folder: $HOME when it is absolute, else the password
// database's.
std::string homeFolder();
// An XDG base folder from the environment (read at every call: GLib caches
// its first answer), else its default under the home folder.
std::string xdgFolder(const char* variable, const char* fallbackBelowHome);
// True when something is at `path`.
bool fileExists(const std::string& path);

// --- Shotwell

// VersionTable.schema_version, once its tables are found.
Result<std::string> shotwellVersion(sqlite3* snapshot);
Result<ManagerCatalog> readShotwell(sqlite3* snapshot, std::int64_t version);
// photo.db below $XDG_DATA_HOME/shotwell/data, else in its Flatpak's folder.
std::optional<std::string> shotwellDatabase();

// One token of TagTable.photo_id_list: "thumb" and 16 hex digits (a photo's
// id), "video-" and 16 hex digits (a video's), or a bare decimal photo id as
// old versions wrote them. Tokens of any other form are skipped.
struct ShotwellTagMember {
  bool video = false;
  std::int64_t id = 0;
  bool operator==(const ShotwellTagMember&) const = default;
};
std::vector<ShotwellTagMember> shotwellTagMembers(std::string_view photoIdList);

// --- digiKam

// Where a file system identified by UUID or label is mounted; nothing when
// it is not mounted (or unknown).
struct VolumeLookup {
  std::function<std::optional<std::string>(const std::string& uuid)> mountOfUuid;
  std::function<std::optional<std::string>(const std::string& label)> mountOfLabel;
};
// The system's answer: libblkid finds the device holding that file system,
// the mount table where it is mounted.
VolumeLookup systemVolumes();

// Settings' DBVersion, once its tables are found.
Result<std::string> digikamVersion(sqlite3* snapshot);
// Volumes found with systemVolumes().
Result<ManagerCatalog> readDigikam(sqlite3* snapshot, std::int64_t version);
Result<ManagerCatalog> readDigikam(sqlite3* snapshot, std::int64_t version, const VolumeLookup& volumes);
// digikam4.db in the folder the user's digikamrc (or its Flatpak's) names.
std::optional<std::string> digikamDatabase();

// The folder of an album root: the place its identifier names
// ("volumeid:?uuid=…", "volumeid:?label=…", "volumeid:?path=/abs",
// "networkshareid:?mountpath=/abs&mountpath=…", values percent-encoded)
// followed by `specificPath`, without repeated or trailing slashes. Nothing
// when the identifier names no place found here, or the result would not be
// an absolute path without "." and ".." parts.
std::optional<std::string> digikamRootFolder(std::string_view identifier, std::string_view specificPath,
                                             const VolumeLookup& volumes);

// `path` with repeated and trailing slashes removed; nothing unless it is
// absolute and free of NUL bytes and of "." and ".." components.
std::optional<std::string> normalisedAbsolutePath(std::string_view path);

// An ImageInformation.creationDate ("2021-06-05T14:03:22", optionally with
// fractional seconds and "Z" or an offset like "+02:00"; a space may stand
// for the "T") as seconds since the epoch: local time unless it carries an
// offset. Nothing when it is not such a date.
std::optional<std::int64_t> digikamDate(std::string_view text);

// The mount point, among `mounts`, of the file system on the block device
// `device` (also matched by its path as the mount source): the first mount
// of the file system's root, else its first mount.
std::optional<std::string> mountPointIn(const std::vector<Mount>& mounts, dev_t device, std::string_view devicePath);

// The `Database Name` of the [Database Settings] group of a digikamrc, when
// the database is SQLite (no `Database Type`, or QSQLITE). `home` stands in
// for $HOME in a value marked for expansion ("Database Name[$e]=$HOME/…").
std::optional<std::string> digikamDatabaseFolder(std::string_view rc, std::string_view home);

}  // namespace tolvek::managers
