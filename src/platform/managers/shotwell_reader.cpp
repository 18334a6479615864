// Shotwell's photo.db: PhotoTable and VideoTable hold the files (absolute
// paths, exposure times in seconds since the epoch, flags), EventTable the
// events their event_id names, TagTable the tags with their members listed
// as text tokens.
#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "platform/managers/manager_readers.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek::managers {
namespace {

// Shotwell's flags of a photo or video that the user no longer has in the
// library: moved to its trash, or its file missing. Photos and videos number
// them differently (a video's 0x4 means "flagged", a photo's 0x1 once meant
// "hidden").
constexpr std::int64_t kPhotoTrash = 0x4, kPhotoOffline = 0x8;
constexpr std::int64_t kVideoTrash = 0x1, kVideoOffline = 0x2;
// The rating of a rejected photo or video, which Shotwell's own views hide
// (its older "hidden" flag became this rating).
constexpr std::int64_t kRatingRejected = -1;

constexpr const char* kTables[] = {"VersionTable", "PhotoTable", "VideoTable", "EventTable", "TagTable"};

// A whole token of digits in `base`, at most 16 hex or 19 decimal ones.
std::optional<std::int64_t> wholeNumber(std::string_view digits, int base) {
  if (digits.empty() || digits.size() > (base == 16 ? 16u : 19u)) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

// Asset indices by Shotwell id, sorted by id.
using IdIndex = std::vector<std::pair<std::int64_t, std::size_t>>;

std::optional<std::size_t> assetOf(const IdIndex& index, std::int64_t id) {
  const auto found = std::lower_bound(index.begin(), index.end(), id,
                                      [](const auto& entry, std::int64_t wanted) { return entry.first < wanted; });
  if (found == index.end() || found->first != id) return std::nullopt;
  return found->second;
}

Status damaged(sqlite3* db) { return Status::error(std::string("the Shotwell database is damaged: ") + sqlite3_errmsg(db)); }

using EventMembers = std::unordered_map<std::int64_t, std::vector<std::size_t>>;

// The photos (or videos) still in the library, each added to `builder`, to
// `ids` and to its event's members.
Status readFiles(sqlite3* db, bool video, CatalogBuilder& builder, IdIndex& ids, EventMembers& eventMembers) {
  SqliteStatement count(db, video ? "SELECT COUNT(*) FROM VideoTable" : "SELECT COUNT(*) FROM PhotoTable");
  if (count.step()) builder.reserve(static_cast<std::size_t>(count.integer(0)));
  SqliteStatement rows(db, video ? "SELECT id, filename, exposure_time, flags, event_id, rating, timestamp "
                                   "FROM VideoTable ORDER BY id"
                                 : "SELECT id, filename, exposure_time, flags, event_id, rating, timestamp "
                                   "FROM PhotoTable ORDER BY id");
  const std::int64_t gone = video ? kVideoTrash | kVideoOffline : kPhotoTrash | kPhotoOffline;
  while (rows.step()) {
    if ((rows.optionalInteger(3).value_or(0) & gone) != 0 || rows.optionalInteger(5) == kRatingRejected) {
      builder.leaveOut();
      continue;
    }
    // No exposure time is 0; one equal to `timestamp`, the file's
    // modification time when Shotwell read it, is what Shotwell fell back
    // to for a file without a date of its own: no capture time either.
    std::optional<std::int64_t> exposure = rows.optionalInteger(2);
    if (exposure == 0 || exposure == rows.optionalInteger(6)) exposure.reset();
    const std::optional<std::size_t> index = builder.add(rows.text(1), exposure);
    if (!index) continue;
    ids.emplace_back(rows.integer(0), *index);
    if (const auto event = rows.optionalInteger(4)) eventMembers[*event].push_back(*index);
  }
  return rows.failed() ? damaged(db) : Status();
}

Status readEvents(sqlite3* db, CatalogBuilder& builder, EventMembers& eventMembers) {
  SqliteStatement events(db, "SELECT id, name FROM EventTable ORDER BY id");
  while (events.step()) {
    const auto members = eventMembers.find(events.integer(0));
    if (members == eventMembers.end()) continue;
    // An event without a name is titled by its date later, by the caller.
    const std::string name = events.text(1);
    builder.addAlbum("event:" + std::to_string(events.integer(0)), ManagerAlbumKind::event,
                     name.empty() ? std::nullopt : std::optional<std::string>(validUtf8(name)),
                     std::move(members->second));
  }
  return events.failed() ? damaged(db) : Status();
}

Status readTags(sqlite3* db, CatalogBuilder& builder, const IdIndex& photos, const IdIndex& videos) {
  SqliteStatement tags(db, "SELECT id, name, photo_id_list FROM TagTable ORDER BY id");
  while (tags.step()) {
    std::vector<std::size_t> members;
    for (const ShotwellTagMember& member : shotwellTagMembers(tags.text(2))) {
      if (const auto index = assetOf(member.video ? videos : photos, member.id)) members.push_back(*index);
    }
    // Hierarchical tags are paths from a leading "/": "/Places/France".
    std::string name = tags.text(1);
    if (name.starts_with('/')) name.erase(0, 1);
    builder.addAlbum("tag:" + std::to_string(tags.integer(0)), ManagerAlbumKind::tag, validUtf8(name),
                     std::move(members));
  }
  return tags.failed() ? damaged(db) : Status();
}

}  // namespace

std::vector<ShotwellTagMember> shotwellTagMembers(std::string_view list) {
  std::vector<ShotwellTagMember> members;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view token = trimmed(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    std::optional<std::int64_t> id;
    bool video = false;
    if (token.starts_with("thumb")) {
      id = wholeNumber(token.substr(5), 16);
    } else if (token.starts_with("video-")) {
      id = wholeNumber(token.substr(6), 16);
      video = true;
    } else {
      id = wholeNumber(token, 10);
    }
    if (id) members.push_back({video, *id});
  }
  return members;
}

Result<std::string> shotwellVersion(sqlite3* db) {
  return recordedVersion(db, "Shotwell", kTables, "SELECT schema_version FROM VersionTable ORDER BY id LIMIT 1",
                         "schema version");
}

Result<ManagerCatalog> readShotwell(sqlite3* db, std::int64_t version) {
  CatalogBuilder builder;
  // Photo and video ids are separate series; each maps to its asset, in id
  // order (the rows are read in that order), so found by binary search.
  IdIndex photos, videos;
  std::unordered_map<std::int64_t, std::vector<std::size_t>> eventMembers;
  for (const bool video : {false, true}) {
    if (Status read = readFiles(db, video, builder, video ? videos : photos, eventMembers); !read) return read;
  }
  if (Status read = readEvents(db, builder, eventMembers); !read) return read;
  if (Status read = readTags(db, builder, photos, videos); !read) return read;
  return std::move(builder).finish(version);
}

std::optional<std::string> shotwellDatabase() {
  const std::string own = xdgFolder("XDG_DATA_HOME", ".local/share") + "/shotwell/data/photo.db";
  if (fileExists(own)) return own;
  const std::string flatpak = homeFolder() + "/.var/app/org.gnome.Shotwell/data/shotwell/data/photo.db";
  if (fileExists(flatpak)) return flatpak;
  return std::nullopt;
}

}  // namespace tolvek::managers
