// import [--album ALBUM_ID] [--no-date] PATH...: copies each file into the
// library (the user's file is only read), makes its derivatives, and records
// it in one transaction. Kinds come from the content, never the name.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "platform/catalog_identifiers.h"
#include "platform/catalog_writer.h"
#include "platform/media_module.h"
#include "progress_bar.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

namespace fs = std::filesystem;

struct ImportOptions {
  std::optional<std::string> album;
  bool noDate = false;
  std::vector<std::string> paths;
};

struct Source {
  std::string path;   // as the user named it, or found below a named folder
  std::string error;  // set when the path cannot be imported at all
};

// The extension of the library's copy: the source's, when it is short and
// plain, else one that fits the type identifier.
std::string copyExtension(const std::string& path, const std::string& uti) {
  const std::string name = fs::path(path).filename().string();
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() && name.size() - dot <= 9) {
    std::string ext = name.substr(dot + 1);
    if (std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c); })) {
      std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
      return "." + ext;
    }
  }
  static const std::map<std::string, std::string> kByType = {
      {"public.jpeg", ".jpg"},       {"public.png", ".png"},           {"public.heic", ".heic"},
      {"public.heif", ".heif"},      {"public.tiff", ".tiff"},         {"org.webmproject.webp", ".webp"},
      {"com.compuserve.gif", ".gif"}, {"public.avif", ".avif"},        {"com.apple.quicktime-movie", ".mov"},
      {"public.mpeg-4", ".mp4"},     {"com.apple.m4v-video", ".m4v"},  {"com.apple.m4a-audio", ".m4a"},
      {"public.mp3", ".mp3"},        {"com.microsoft.waveform-audio", ".wav"}};
  auto found = kByType.find(uti);
  return found == kByType.end() ? std::string() : found->second;
}

// Every file to import, in a stable order: named files as given, folders
// walked recursively (without following links to folders) in name order.
std::vector<Source> collectSources(const std::vector<std::string>& paths) {
  std::vector<Source> sources;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      sources.push_back({path, "no such file or folder"});
    } else if (fs::is_directory(status)) {
      std::vector<std::string> found;
      fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
      if (ec) {
        sources.push_back({path, "cannot read the folder: " + ec.message()});
        continue;
      }
      for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fileEc;
        if (it->is_regular_file(fileEc)) found.push_back(it->path().string());
      }
      if (ec) sources.push_back({path, "cannot read the folder: " + ec.message()});
      std::sort(found.begin(), found.end());
      for (std::string& f : found) sources.push_back({std::move(f), {}});
    } else if (fs::is_regular_file(status)) {
      sources.push_back({path, {}});
    } else {
      sources.push_back({path, "not a regular file"});
    }
  }
  return sources;
}

class Importer {
 public:
  Importer(const LibraryLocation& location, CatalogWriter& catalog, MediaModule* media, const ImportOptions& options,
           std::optional<std::int64_t> albumRow)
      : location_(location), catalog_(catalog), media_(media), options_(options), albumRow_(albumRow) {}

  // The new asset's identifier, or nothing and `error` set.
  std::optional<std::string> importFile(const std::string& path, std::string& error) {
    if (media_ == nullptr) {
      error = "the media module cannot be loaded";
      return std::nullopt;
    }
    const auto probe = media_->probe(path);
    if (!probe || probe->mediaType < kMediaImage || probe->mediaType > kMediaAudio) {
      error = "not a picture, video or audio file that can be read";
      return std::nullopt;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      error = "cannot read the file";
      return std::nullopt;
    }

    const std::string identifier = newAssetIdentifier();
    const std::string uuid = identifier.substr(0, identifier.find('/'));
    const std::string shard = uuid.substr(0, 2);
    const std::string copyRelative = "originals/" + shard + "/" + uuid + copyExtension(path, probe->uniformTypeIdentifier);
    const std::string copyPath = location_.libraryFolder + "/" + copyRelative;
    const std::string derivativePrefix = location_.derivativesFolder + "/" + shard + "/" + uuid;

    std::error_code ec;
    fs::create_directories(location_.originalsFolder + "/" + shard, ec);
    fs::create_directories(location_.derivativesFolder + "/" + shard, ec);
    // Copy beside the final name, then rename: a copy is whole or absent.
    const std::string partial = copyPath + ".partial";
    if (!fs::copy_file(path, partial, fs::copy_options::overwrite_existing, ec) ||
        ::rename(partial.c_str(), copyPath.c_str()) != 0) {
      error = "cannot copy the file into the library" + (ec ? ": " + ec.message() : std::string());
      fs::remove(partial, ec);
      return std::nullopt;
    }

    NewAsset asset;
    asset.mediaType = probe->mediaType;
    if (!options_.noDate) asset.creationDate = probe->creationDate ? *probe->creationDate : info.st_mtime;
    asset.originalFilename = fs::path(path).filename().string();
    asset.uniformTypeIdentifier = probe->uniformTypeIdentifier;
    asset.originalPath = copyRelative;
    // Of the library's copy, which is what the catalog vouches for.
    auto digest = digestOfFile(copyPath);
    if (!digest) {
      error = "cannot read the library's copy: " + digest.message();
      fs::remove(copyPath, ec);
      return std::nullopt;
    }
    asset.original = *digest;
    for (StoredDerivative d : media_->makeDerivatives(copyPath, probe->mediaType, derivativePrefix)) {
      const std::string prefix = location_.libraryFolder + "/";
      if (d.path.starts_with(prefix)) d.path = d.path.substr(prefix.size());
      asset.derivatives.push_back(std::move(d));
    }

    if (!catalog_.addAsset(identifier, asset, albumRow_)) {
      error = "cannot record the asset in the catalog";
      fs::remove(copyPath, ec);
      for (const StoredDerivative& d : asset.derivatives) fs::remove(location_.libraryFolder + "/" + d.path, ec);
      return std::nullopt;
    }
    return identifier;
  }

 private:
  const LibraryLocation& location_;
  CatalogWriter& catalog_;
  MediaModule* media_;
  const ImportOptions& options_;
  std::optional<std::int64_t> albumRow_;
};

// Removes what killed imports left in originals/ and derivatives/: files
// that no catalog row names (copies made before their row was committed,
// partial writes). The writer lock keeps every other import out meanwhile,
// so nothing removed here is still being written. Links are removed as
// links, never followed.
void removeOrphans(const LibraryLocation& location, CatalogWriter& catalog) {
  const auto named = catalog.namedFiles();
  if (!named) return;  // without the full list nothing is known to be an orphan
  const std::set<std::string> keep(named->begin(), named->end());
  for (const std::string* folder : {&location.originalsFolder, &location.derivativesFolder}) {
    std::error_code ec;
    fs::recursive_directory_iterator it(*folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code fileEc;
      if (it->is_directory(fileEc) && !it->is_symlink(fileEc)) continue;
      const std::string path = it->path().string();
      if (!path.starts_with(location.libraryFolder + "/")) continue;
      if (keep.count(path.substr(location.libraryFolder.size() + 1)) == 0) ::unlink(path.c_str());
    }
  }
}

std::optional<ImportOptions> parseOptions(const Arguments& arguments, std::string& error) {
  ImportOptions options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      options.paths.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--no-date") {
      options.noDate = true;
    } else if (a == "--album" && i + 1 < arguments.size()) {
      options.album = arguments[++i];
    } else if (a.starts_with("--album=")) {
      options.album = a.substr(8);
    } else {
      error = "unknown import option '" + a + "'";
      return std::nullopt;
    }
  }
  if (options.paths.empty()) {
    error = "usage: import [--album ALBUM_ID] [--no-date] PATH...";
    return std::nullopt;
  }
  return options;
}

}  // namespace

int runImport(const Arguments& arguments) {
  std::string error;
  const auto options = parseOptions(arguments, error);
  if (!options) return failWith(error);

  const LibraryLocation location = userLibraryLocation();
  auto catalog = CatalogWriter::open(location, error);
  if (!catalog) return failWith(error);
  std::optional<std::int64_t> albumRow;
  if (options->album) {
    albumRow = catalog->albumRow(*options->album);
    if (!albumRow) return failWith("no album with the identifier " + *options->album);
  }

  removeOrphans(location, *catalog);
  const std::vector<Source> sources = collectSources(options->paths);
  Importer importer(location, *catalog, loadMediaModule(), *options, albumRow);
  int status = 0;
  ProgressBar progress(sources.size());
  for (const Source& source : sources) {
    std::string reason = source.error;
    std::optional<std::string> identifier;
    if (reason.empty()) identifier = importer.importFile(source.path, reason);
    progress.clear();  // standard output may be the same terminal
    if (identifier) {
      // Reported only once committed, and flushed at once, so that a killed
      // import never reported an asset the catalog lacks.
      std::printf("%s\t%s\n", identifier->c_str(), source.path.c_str());
      std::fflush(stdout);
    } else {
      status = failWith(source.path + ": " + reason);
    }
    progress.advance();
  }
  return status;
}

}  // namespace tolvek::tool
