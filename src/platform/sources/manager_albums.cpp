// A photo manager's events, tags and folders as albums of the assets its
// files are now, recorded after every file so that each member is known.
// Runs on the sync's calling thread; only changed memberships are written
// (CatalogWriter::replaceSourceAlbums).
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

// The asset row of each of a manager's files (0: none), from the plan's
// recorded assets: each path looked up once, however many albums hold it.
std::vector<std::int64_t> assetsOfManagerFiles(const ManagerPlan& plan) {
  std::unordered_map<std::string_view, std::int64_t> byPath;
  byPath.reserve(plan.recordedAssets.size());
  for (const auto& [path, asset] : plan.recordedAssets) byPath.emplace(path, asset);
  std::vector<std::int64_t> assetOf(plan.paths.size(), 0);
  for (std::size_t i = 0; i < assetOf.size(); ++i) {
    if (const auto found = byPath.find(plan.paths[i]); found != byPath.end()) assetOf[i] = found->second;
  }
  return assetOf;
}

std::vector<SourceAlbum> albumsOf(const ManagerPlan& plan) {
  const std::vector<std::int64_t> assetOf = assetsOfManagerFiles(plan);
  std::vector<SourceAlbum> albums;
  albums.reserve(plan.read.albums.size());
  for (const ManagerAlbum& given : plan.read.albums) {
    SourceAlbum& album = albums.emplace_back();
    album.key = given.key;
    album.subtype = given.kind == ManagerAlbumKind::event ? CollectionSubtype::albumSyncedEvent
                                                          : CollectionSubtype::albumSyncedFolder;
    album.title = given.title;
    for (const std::size_t member : given.members) {
      if (member < assetOf.size() && assetOf[member] != 0) album.assetRows.push_back(assetOf[member]);
    }
  }
  return albums;
}

}  // namespace

Status recordManagerAlbums(SyncRun& run) {
  std::optional<std::unordered_map<std::int64_t, std::int64_t>> halves;
  for (SourcePlan& plan : run.plans) {
    if (!plan.manager) continue;
    ManagerPlan& manager = *plan.manager;
    if (manager.filesChanged) {
      auto files = run.catalog.filesOf(plan.source.row, true);
      if (!files) return files.status();
      manager.recordedAssets.clear();
      manager.recordedAssets.reserve(files->size());
      for (SourceFile& file : *files) manager.recordedAssets.emplace_back(std::move(file.path), *file.assetRow);
    }
    std::vector<SourceAlbum> albums = albumsOf(manager);
    // A half of a pair is in its pair's albums.
    if (!halves) {
      auto read = run.catalog.pairedHalves();
      if (!read) return read.status();
      halves = std::move(read).value();
    }
    for (SourceAlbum& album : albums) {
      for (std::int64_t& asset : album.assetRows) {
        if (const auto pair = halves->find(asset); pair != halves->end()) asset = pair->second;
      }
    }
    if (Status begun = run.batch.begin(); !begun) return begun;
    if (Status replaced = run.catalog.replaceSourceAlbums(plan.source, albums); !replaced) return replaced;
    if (Status committed = run.batch.commitIfDue(true); !committed) return committed;
  }
  return {};
}

}  // namespace tolvek
