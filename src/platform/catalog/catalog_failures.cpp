#include "platform/catalog/catalog_failures.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/posix_file.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

// As dirname(1) has it: "." for a bare name, "/" for a name at the root.
std::string folderOf(const std::string& path) {
  if (path.find('/') == std::string::npos) return ".";
  const std::string_view folder = folderPart(path);
  return folder.empty() ? std::string("/") : std::string(folder);
}

}  // namespace

std::string catalogBackupPath(const std::string& catalogPath, std::int64_t version) {
  return folderOf(catalogPath) + "/catalog-v" + std::to_string(version) + "-backup.sqlite";
}

std::optional<CatalogBackup> newestCatalogBackup(const std::string& catalogPath) {
  const std::string folder = folderOf(catalogPath);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<CatalogBackup> newest;
  while (const dirent* entry = ::readdir(dir)) {
    // "catalog-v" digits "-backup.sqlite", and nothing else.
    const std::string_view name(entry->d_name);
    constexpr std::string_view kPrefix = "catalog-v", kSuffix = "-backup.sqlite";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix) || name.size() <= kPrefix.size() + kSuffix.size()) {
      continue;
    }
    const std::string digits(name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size()));
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::int64_t version = std::strtoll(digits.c_str(), nullptr, 10);
    const std::string path = folder + "/" + std::string(name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (!newest || version > newest->version) newest = CatalogBackup{path, version};
  }
  ::closedir(dir);
  return newest;
}

Status damagedCatalog(const std::string& catalogPath, std::string_view detail) {
  const std::string library = folderOf(catalogPath);
  std::string message = "the catalog " + catalogPath + " is damaged (" + std::string(detail) +
                        "); nothing more is written to it. ";
  if (const auto backup = newestCatalogBackup(catalogPath)) {
    message += "Its last backup is " + backup->path + ", kept before the catalog was brought up to date from version " +
               std::to_string(backup->version) + ": later changes are not in it. ";
  } else {
    message += "There is no backup of it (one is kept only before a catalog is brought up to date). ";
  }
  message += "Copy the folder " + library +
             " before anything else (it holds the library's copies of imported files), then recover what can "
             "be read: sqlite3 " + catalogPath + " .recover | sqlite3 " + library + "/catalog-recovered.sqlite";
  return Status::error(std::move(message), ErrorCode::damaged);
}

Status catalogFailure(sqlite3* db, const char* what) {
  const SqliteFailure failure = failureOf(db);
  const char* file = db == nullptr ? nullptr : sqlite3_db_filename(db, "main");
  const std::string catalog = !failure.file.empty()              ? failure.file
                              : file != nullptr && *file != '\0' ? std::string(file)
                                                                 : std::string("the catalog");
  const std::string cannot = std::string("cannot ") + what + " in the catalog: ";
  if (failure.damaged) {
    const Status damaged = damagedCatalog(catalog, failure.damage);
    return Status::error(cannot + damaged.message(), ErrorCode::damaged);
  }
  // Recorded for a guarded connection; SQLite's own for any other.
  const int code = failure.code != SQLITE_OK ? failure.code : (db == nullptr ? SQLITE_MISUSE : sqlite3_errcode(db) & 0xff);
  if (code == SQLITE_FULL) {
    return Status::error(cannot + errorText(ENOSPC) + " (on the device holding " + catalog + ")",
                         ErrorCode::noSpace);
  }
  if (isDamage(code)) {
    return Status::error(cannot + damagedCatalog(catalog, db == nullptr ? "" : sqlite3_errmsg(db)).message(),
                         ErrorCode::damaged);
  }
  return Status::error(cannot + (failure.code != SQLITE_OK ? failure.message
                                                            : std::string(db == nullptr ? "no connection" : sqlite3_errmsg(db))));
}

}  // namespace tolvek
