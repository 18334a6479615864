#include "platform/managers/manager_catalog.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <utility>

#include "platform/managers/database_snapshot.h"
#include "platform/managers/manager_readers.h"
#include "platform/managers/photo_managers.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/catalog/valid_utf8.h"
#include "platform/system/library_location.h"

namespace tolvek {
namespace managers {

std::optional<std::size_t> CatalogBuilder::add(std::string path, std::optional<std::int64_t> creationDate) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
    leaveOut();
    return std::nullopt;
  }
  if ((catalog_.assets.size() + 1) * 2 > slots_.size()) grow(catalog_.assets.size() + 1);
  const std::uint64_t hash = std::hash<std::string_view>()(path);
  const std::size_t slot = slotOf(path, hash);
  if (slots_[slot] != 0) {
    ManagerAsset& known = catalog_.assets[slots_[slot] - 1];
    // The earliest of the dates its rows give, whatever their order.
    if (creationDate && (!known.creationDate || *creationDate < *known.creationDate)) known.creationDate = creationDate;
    return slots_[slot] - 1;
  }
  slots_[slot] = static_cast<std::uint32_t>(catalog_.assets.size() + 1);
  hashes_.push_back(hash);
  catalog_.assets.push_back({std::move(path), creationDate});
  return catalog_.assets.size() - 1;
}

std::size_t CatalogBuilder::slotOf(std::string_view path, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == 0 || (hashes_[held - 1] == hash && catalog_.assets[held - 1].path == path)) return slot;
  }
}

void CatalogBuilder::grow(std::size_t assets) {
  // At most half full, so probes stay short.
  std::size_t size = std::max<std::size_t>(slots_.size(), 64);
  while (assets * 2 > size) size *= 2;
  if (size == slots_.size()) return;
  slots_.assign(size, 0);
  for (std::size_t i = 0; i < catalog_.assets.size(); ++i) {
    std::size_t slot = hashes_[i] & (size - 1);
    while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
    slots_[slot] = static_cast<std::uint32_t>(i + 1);
  }
}

void CatalogBuilder::reserve(std::size_t assets) {
  const std::size_t total = catalog_.assets.size() + assets;
  catalog_.assets.reserve(total);
  hashes_.reserve(total);
  grow(total + 1);
}

void CatalogBuilder::addAlbum(std::string key, ManagerAlbumKind kind, std::optional<std::string> title,
                              std::vector<std::size_t> members) {
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  if (members.empty()) return;
  if (title && title->size() > kMaxTitleBytes) title = boundedText(*title, kMaxTitleBytes);
  catalog_.albums.push_back({std::move(key), kind, std::move(title), std::move(members)});
}

ManagerCatalog CatalogBuilder::finish(std::int64_t schemaVersion) && {
  catalog_.schemaVersion = schemaVersion;
  return std::move(catalog_);
}

bool hasTable(sqlite3* db, const char* table) {
  SqliteStatement find(db, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = :name");
  find.bind(":name", table);
  return find.step();
}

std::string boundedText(std::string_view text, std::size_t maxBytes) {
  static constexpr std::string_view kEllipsis = "…";
  std::string out = validUtf8(text.substr(0, maxBytes));
  // Bytes that are no UTF-8 grew into U+FFFD; a character cut in two at the
  // end became U+FFFD too, and goes with the room the ellipsis takes.
  if (text.size() <= maxBytes && out.size() <= maxBytes) return out;
  std::size_t end = std::min(out.size(), maxBytes < kEllipsis.size() ? 0 : maxBytes - kEllipsis.size());
  while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80) --end;
  out.resize(end);
  return out += kEllipsis;
}

Result<std::string> recordedVersion(sqlite3* db, std::string_view program, std::span<const char* const> tables,
                                    const char* query, std::string_view versionName) {
  const std::string notIt = "it is not a " + std::string(program) + " database";
  for (const char* table : tables) {
    if (!hasTable(db, table)) return Status::error(notIt + " (it has no " + table + ")");
  }
  SqliteStatement version(db, query);
  std::optional<std::string> recorded;
  if (version.step()) recorded = version.optionalText(0);
  if (version.failed()) {
    return Status::error("the " + std::string(program) + " database is damaged: " + sqlite3_errmsg(db));
  }
  if (!recorded) return Status::error(notIt + " (it records no " + std::string(versionName) + ")");
  return *recorded;
}

Result<std::int64_t> knownVersion(std::string_view what, std::string_view text, std::int64_t oldest,
                                  std::int64_t newest) {
  const std::string range = " this program reads (" + std::to_string(oldest) + " to " + std::to_string(newest) + ")";
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::int64_t version = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), version);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    // Quoted as stored, cut short: the value is another program's.
    return Status::error(std::string(what) + " \"" + boundedText(text, 40) + "\" is not a version" + range);
  }
  if (version > newest) return Status::error(std::string(what) + " " + std::to_string(version) + " is newer than" + range);
  if (version < oldest) return Status::error(std::string(what) + " " + std::to_string(version) + " is older than" + range);
  return version;
}

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? std::string(home) : userHomeFolder();
}

std::string xdgFolder(const char* variable, const char* fallbackBelowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  return homeFolder() + "/" + fallbackBelowHome;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace managers

Result<ManagerCatalog> readManagerCatalog(SourceKind kind, const std::string& database) {
  const PhotoManager* manager = photoManagerOf(kind);
  if (manager == nullptr && kind == SourceKind::folder) return Status::error(database + ": a folder source has no database");
  if (manager == nullptr) {
    return Status::error(database + ": a source of a kind this program does not know (" +
                         std::to_string(static_cast<std::int64_t>(kind)) + ")");
  }
  const std::string program(manager->program);
  Result<SqliteConnection> snapshot = snapshotDatabase(database);
  if (!snapshot) return Status::error("cannot read the " + program + " database " + database + ": " + snapshot.message());
  Result<ManagerCatalog> read = readManagerSnapshot(*manager, snapshot->get());
  snapshot->reset();  // closed: the copy is read
  // The copy's pages are freed in the arena of the thread that read them;
  // handed back to the system, they do not add to what the sync uses next.
  ::malloc_trim(0);
  if (!read) return Status::error("cannot read the " + program + " database " + database + ": " + read.message());
  return read;
}

std::optional<std::string> defaultManagerDatabase(SourceKind kind) {
  const PhotoManager* manager = photoManagerOf(kind);
  return manager != nullptr ? manager->defaultDatabase() : std::nullopt;
}

std::string_view sourceKindWord(SourceKind kind) {
  if (const PhotoManager* manager = photoManagerOf(kind)) return manager->word;
  return kind == SourceKind::folder ? "folder" : "unknown";
}

}  // namespace tolvek
