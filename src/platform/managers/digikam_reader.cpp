// digiKam's digikam4.db: AlbumRoots name the collections' folders (by file
// system UUID, label or path), Albums the folders below them, Images the
// files in each folder, ImageInformation their capture dates, Tags the tag
// tree (pid 0 at the top) and ImageTags which image carries which tag.
#include <ctime>
#include <map>
#include <unordered_map>

#include "platform/catalog/sqlite_statement.h"
#include "platform/managers/manager_readers.h"
#include "platform/posix/path_text.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek::managers {
namespace {

constexpr const char* kTables[] = {"Settings", "AlbumRoots", "Albums", "Images", "ImageInformation", "Tags", "ImageTags"};
// The top of digiKam's own tags (colour and pick labels, version marks),
// which are no tags of the user's.
constexpr std::string_view kInternalTags = "_Digikam_Internal_Tags_";
// Images.status of a visible image; Images.category of a picture, a video
// and an audio file.
constexpr std::int64_t kStatusVisible = 1;
constexpr std::int64_t kCategoryImage = 1, kCategoryAudio = 3;

Status damaged(sqlite3* db) { return Status::error(std::string("the digiKam database is damaged: ") + sqlite3_errmsg(db)); }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A number of exactly `width` digits at `text[at]`.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

struct Tag {
  std::int64_t parent = 0;
  std::string name;
};

// digiKam's tag tree, where each tag stands worked out once for all of them
// in time linear in their number, however deep the tree or long its loops
// (a damaged or hostile database may hold a chain of thousands of tags, or
// a loop of them).
class TagTree {
 public:
  explicit TagTree(std::unordered_map<std::int64_t, Tag> tags) : tags_(std::move(tags)) {
    standing_.reserve(tags_.size());
    for (const auto& entry : tags_) resolve(entry.first);
  }

  // The tag's path from the top ("Places/France/Paris"): of its nearest
  // kMaxTagDepth levels, after "…/" when it is deeper, each name at most
  // kMaxTitleBytes long. Nothing for digiKam's internal tags, for a tag that
  // is not there and for one whose parents loop (a damaged tree). A parent
  // that is gone ends the path.
  std::optional<std::string> path(std::int64_t id) const {
    const auto standing = standing_.find(id);
    if (standing == standing_.end() || !standing->second.usable) return std::nullopt;
    std::vector<std::string_view> names;
    for (std::int64_t at = id; names.size() < kMaxTagDepth;) {
      const auto tag = tags_.find(at);
      if (tag == tags_.end()) break;
      names.push_back(tag->second.name);
      at = tag->second.parent;
      if (at == 0) break;
    }
    std::string path = standing->second.depth > names.size() ? "…" : "";
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
      if (!path.empty()) path += '/';
      path += name->size() > kMaxTitleBytes ? boundedText(*name, kMaxTitleBytes) : std::string(*name);
    }
    return path;
  }

 private:
  struct Standing {
    bool usable = false;   // under the top, through no internal tag and no loop
    std::size_t depth = 0;  // levels from the top, the tag's own included
    bool settled = false;   // false while its parents are being followed
  };

  // Follows the tag's parents up to the top, a tag already settled or one
  // on this very chain (a loop), then settles every tag of the chain.
  void resolve(std::int64_t id) {
    std::vector<std::int64_t> chain;
    std::int64_t at = id;
    for (;;) {
      const auto tag = tags_.find(at);
      if (tag == tags_.end() || standing_.contains(at)) break;
      standing_.emplace(at, Standing{});
      chain.push_back(at);
      if (tag->second.parent == 0) {
        at = 0;
        break;
      }
      at = tag->second.parent;
    }
    Standing above{true, 0, true};  // the top, or a parent that is gone
    if (const auto reached = standing_.find(at); at != 0 && reached != standing_.end()) {
      above = reached->second.settled ? reached->second : Standing{false, 0, true};  // unsettled: a loop
    }
    for (auto tag = chain.rbegin(); tag != chain.rend(); ++tag) {
      above = {above.usable && tags_.at(*tag).name != kInternalTags, above.depth + 1, true};
      standing_[*tag] = above;
    }
  }

  std::unordered_map<std::int64_t, Tag> tags_;
  std::unordered_map<std::int64_t, Standing> standing_;
};

struct Root {
  std::optional<std::string> folder;
  std::string label;
};

struct Album {
  std::int64_t root = 0;
  std::string relativePath;
  std::optional<std::string> folder;  // absolute; nothing while its collection's volume is not found
};

// digiKam's creationDate is the capture time it read from the file or, for a
// file that names none, the time the file came to disk (its creation or
// modification time); then digitizationDate is empty, or the creation date
// is the file's modification time (Images.modificationDate). Such a date
// tells nothing of the capture: nothing is given for it. Reads the columns
// creationDate (5), digitizationDate (6) and modificationDate (7).
std::optional<std::int64_t> captureDate(const SqliteStatement& row) {
  const std::optional<std::string> created = row.optionalText(5), digitized = row.optionalText(6);
  if (!created || !digitized || trimmed(*digitized).empty()) return std::nullopt;
  std::optional<std::int64_t> date = digikamDate(*created);
  if (date && date == digikamDate(row.text(7))) date.reset();
  return date;
}


using Roots = std::map<std::int64_t, Root>;
using Albums = std::map<std::int64_t, Album>;

// The images of each folder, by absolute folder: two albums of overlapping
// collections that are one folder are one album, titled by the first.
struct Folder {
  std::int64_t album = 0;
  std::vector<std::size_t> members;
};
using Folders = std::map<std::string, Folder>;

Result<Roots> readRoots(sqlite3* db, const VolumeLookup& volumes) {
  Roots roots;
  SqliteStatement rows(db, "SELECT id, label, identifier, specificPath FROM AlbumRoots");
  while (rows.step()) roots[rows.integer(0)] = {digikamRootFolder(rows.text(2), rows.text(3), volumes), rows.text(1)};
  if (rows.failed()) return damaged(db);
  return roots;
}

Result<Albums> readAlbums(sqlite3* db, const Roots& roots) {
  Albums albums;
  SqliteStatement rows(db, "SELECT id, albumRoot, relativePath FROM Albums");
  while (rows.step()) {
    const std::int64_t id = rows.integer(0), root = rows.integer(1);
    const auto rootFolder = roots.find(root);
    std::optional<std::string> folder;
    if (rootFolder != roots.end() && rootFolder->second.folder) {
      folder = normalisedAbsolutePath(*rootFolder->second.folder + "/" + rows.text(2));
    }
    albums[id] = {root, rows.text(2), std::move(folder)};
  }
  if (rows.failed()) return damaged(db);
  return albums;
}

// The visible pictures, videos and audio files, each added to `builder`,
// to `images` (asset index by image id) and to its folder's members.
Status readImages(sqlite3* db, const Roots& roots, const Albums& albums, CatalogBuilder& builder,
                  std::map<std::int64_t, std::size_t>& images, Folders& folders) {
  SqliteStatement rows(db,
                       "SELECT i.id, i.album, i.name, i.status, i.category, ii.creationDate, "
                       "ii.digitizationDate, i.modificationDate "
                       "FROM Images i LEFT JOIN ImageInformation ii ON ii.imageid = i.id ORDER BY i.id");
  while (rows.step()) {
    const std::int64_t category = rows.integer(4);
    const auto album = albums.find(rows.optionalInteger(1).value_or(0));
    const std::string name = rows.text(2);
    if (rows.integer(3) != kStatusVisible || category < kCategoryImage || category > kCategoryAudio ||
        album == albums.end() || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
      builder.leaveOut();
      continue;
    }
    const auto root = roots.find(album->second.root);
    std::optional<std::string> path;
    if (album->second.folder) path = normalisedAbsolutePath(*album->second.folder + "/" + name);
    if (!path) {
      if (root != roots.end() && !root->second.folder) builder.leaveOutUnavailable(); else builder.leaveOut();
      continue;
    }
    const std::optional<std::size_t> index = builder.add(std::move(*path), captureDate(rows));
    if (!index) continue;
    images[rows.integer(0)] = *index;
    Folder& folder = folders[*album->second.folder];
    if (folder.members.empty() || album->first < folder.album) folder.album = album->first;
    folder.members.push_back(*index);
  }
  return rows.failed() ? damaged(db) : Status();
}

// A folder's album title: its path below the collection, or for the
// collection's own folder the collection's label, else its folder's name.
std::string folderTitle(const Album& album, const Roots& roots) {
  std::string title(album.relativePath);
  while (title.starts_with('/')) title.erase(0, 1);
  while (title.ends_with('/')) title.pop_back();
  if (!title.empty()) return title;
  const auto root = roots.find(album.root);
  if (root == roots.end()) return "/";
  title = root->second.label;
  if (title.empty() && root->second.folder) title = namePart(*root->second.folder);
  return title.empty() ? "/" : title;
}

Status readTags(sqlite3* db, const std::map<std::int64_t, std::size_t>& images, CatalogBuilder& builder) {
  std::unordered_map<std::int64_t, Tag> tags;
  SqliteStatement tagRows(db, "SELECT id, pid, name FROM Tags");
  while (tagRows.step()) tags[tagRows.integer(0)] = {tagRows.optionalInteger(1).value_or(0), tagRows.text(2)};
  if (tagRows.failed()) return damaged(db);
  const TagTree tree(std::move(tags));
  std::map<std::int64_t, std::vector<std::size_t>> tagMembers;
  SqliteStatement tagged(db, "SELECT imageid, tagid FROM ImageTags");
  while (tagged.step()) {
    if (const auto image = images.find(tagged.integer(0)); image != images.end()) {
      tagMembers[tagged.integer(1)].push_back(image->second);
    }
  }
  if (tagged.failed()) return damaged(db);
  for (auto& [id, members] : tagMembers) {
    if (std::optional<std::string> path = tree.path(id)) {
      builder.addAlbum("tag:" + std::to_string(id), ManagerAlbumKind::tag, validUtf8(*path), std::move(members));
    }
  }
  return Status();
}

}  // namespace

std::optional<std::int64_t> digikamDate(std::string_view text) {
  // "YYYY-MM-DDTHH:MM:SS" at fixed places.
  const auto year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
  const auto hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    do ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9');
  }
  std::tm tm{};
  tm.tm_year = *year - 1900;
  tm.tm_mon = *month - 1;
  tm.tm_mday = *day;
  tm.tm_hour = *hour;
  tm.tm_min = *minute;
  tm.tm_sec = *second;
  const std::string_view zone = text.substr(at);
  if (zone.empty()) {
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
  }
  std::int64_t offset = 0;
  if (zone != "Z") {
    const auto hours = digitsAt(zone, 1, 2);
    const bool colon = zone.size() == 6 && zone[3] == ':';
    const auto minutes = digitsAt(zone, colon ? 4 : 3, 2);
    if ((zone[0] != '+' && zone[0] != '-') || !hours || !minutes || zone.size() != (colon ? 6u : 5u) ||
        *hours > 23 || *minutes > 59) {
      return std::nullopt;
    }
    offset = (zone[0] == '-' ? -1 : 1) * (*hours * 3600 + *minutes * 60);
  }
  return static_cast<std::int64_t>(::timegm(&tm)) - offset;
}

Result<std::string> digikamVersion(sqlite3* db) {
  return recordedVersion(db, "digiKam", kTables, "SELECT value FROM Settings WHERE keyword = 'DBVersion'", "DBVersion");
}

Result<ManagerCatalog> readDigikam(sqlite3* db, std::int64_t version) {
  return readDigikam(db, version, systemVolumes());
}

Result<ManagerCatalog> readDigikam(sqlite3* db, std::int64_t version, const VolumeLookup& volumes) {
  const Result<Roots> roots = readRoots(db, volumes);
  if (!roots) return roots.status();
  const Result<Albums> albums = readAlbums(db, *roots);
  if (!albums) return albums.status();
  CatalogBuilder builder;
  std::map<std::int64_t, std::size_t> images;
  Folders folders;
  if (Status read = readImages(db, *roots, *albums, builder, images, folders); !read) return read;
  for (auto& [path, folder] : folders) {
    const std::string title = folderTitle(albums->at(folder.album), *roots);
    builder.addAlbum(folderAlbumKey(path), ManagerAlbumKind::folder, validUtf8(title), std::move(folder.members));
  }
  if (Status read = readTags(db, images, builder); !read) return read;
  return std::move(builder).finish(version);
}

}  // namespace tolvek::managers
