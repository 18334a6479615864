// album list | create TITLE | create --untitled | rename ALBUM_ID TITLE |
// delete ALBUM_ID | add ALBUM_ID ASSET_ID... | remove ALBUM_ID ASSET_ID...
#include <cstdio>

#include "platform/catalog/catalog_writer.h"
#include "platform/managers/manager_catalog.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

constexpr char kCommand[] = "album";

// The last field of album list: a smart album's rule, the kind of source
// that gives the album, or user.
std::string albumKind(const CatalogWriter::AlbumEntry& album) {
  switch (album.rule) {
    case CollectionRule::favorites: return "favorites";
    case CollectionRule::videos: return "videos";
    case CollectionRule::members: break;
  }
  return album.source ? std::string(sourceKindWord(*album.source)) : "user";
}

int listAlbums(CatalogWriter& catalog) {
  auto albums = catalog.albums();
  if (!albums) return failWith(albums.message());
  for (const CatalogWriter::AlbumEntry& album : *albums) {
    std::printf("%s\t%s\t%lld\t%s\n", outputField(album.identifier).c_str(),
                album.title ? outputField(*album.title).c_str() : "", static_cast<long long>(album.count),
                albumKind(album).c_str());
  }
  return kExitOk;
}

// The album named by the first operand, then `edit` with the catalog, the
// album's row and the remaining operands.
template <class Edit>
int withAlbum(const Arguments& operands, Edit&& edit) {
  auto catalog = openCatalog();
  if (!catalog) return kExitFailure;
  auto album = catalog->albumRow(operands.front());
  if (!album) return failWith(album.message());
  return edit(*catalog, *album, Arguments(operands.begin() + 1, operands.end()));
}

// add and remove: the assets, all checked before the album changes.
int changeMembers(const Arguments& operands, bool add) {
  return withAlbum(operands, [add](CatalogWriter& catalog, std::int64_t album, const Arguments& rest) {
    auto identifiers = identifiersFrom(rest);
    if (!identifiers) return failWith(identifiers.message());
    auto rows = resolveAssets(catalog, *identifiers);
    if (!rows) return failWith(rows.message());
    Status changed = add ? catalog.addToAlbum(album, *rows) : catalog.removeFromAlbum(album, *rows);
    return changed ? kExitOk : failWith(changed.message());
  });
}

}  // namespace

int runAlbum(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, commandOptions("album"));
  if (!parsed) return usageError(kCommand, parsed.message());
  const Arguments& operands = parsed->operands;
  if (operands.empty()) {
    return usageError(kCommand, "which album command: list, create, rename, delete, add or remove?");
  }
  const std::string& what = operands.front();
  const Arguments rest(operands.begin() + 1, operands.end());
  const bool untitled = parsed->has("untitled");
  if (untitled && what != "create") return usageError(kCommand, "--untitled goes with album create only");
  struct Shape {
    const char* word;
    std::size_t least, most;
    const char* usage;
  };
  constexpr std::size_t kAny = static_cast<std::size_t>(-1);
  static constexpr Shape kShapes[] = {
      {"list", 0, 0, "album list"},
      {"create", 0, 1, "album create TITLE | album create --untitled"},
      {"rename", 2, 2, "album rename ALBUM_ID TITLE"},
      {"delete", 1, 1, "album delete ALBUM_ID"},
      {"add", 2, kAny, "album add ALBUM_ID ASSET_ID..."},
      {"remove", 2, kAny, "album remove ALBUM_ID ASSET_ID..."},
  };
  const Shape* shape = nullptr;
  for (const Shape& s : kShapes) {
    if (what == s.word) shape = &s;
  }
  if (shape == nullptr) return usageError(kCommand, "unknown album command '" + what + "'");
  if (rest.size() < shape->least || rest.size() > shape->most || (what == "create" && rest.empty() != untitled)) {
    return usageError(kCommand, std::string("usage: ") + shape->usage);
  }

  if (what == "add" || what == "remove") return changeMembers(rest, what == "add");
  if (what == "rename") {
    return withAlbum(rest, [](CatalogWriter& catalog, std::int64_t album, const Arguments& title) {
      Status renamed = catalog.renameAlbum(album, title.front());
      return renamed ? kExitOk : failWith(renamed.message());
    });
  }
  if (what == "delete") {
    return withAlbum(rest, [](CatalogWriter& catalog, std::int64_t album, const Arguments&) {
      Status deleted = catalog.deleteAlbum(album);
      return deleted ? kExitOk : failWith(deleted.message());
    });
  }
  auto catalog = openCatalog();
  if (!catalog) return kExitFailure;
  if (what == "list") return listAlbums(*catalog);
  std::optional<std::string> title;
  if (!untitled) title = rest.front();
  auto identifier = catalog->createAlbum(title);
  if (!identifier) return failWith(identifier.message());
  std::printf("%s\n", identifier->c_str());
  return kExitOk;
}

}  // namespace tolvek::tool
