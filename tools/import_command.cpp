// import [--album ALBUM_ID] [--no-date] PATH...: copies each file into the
// library (the user's file is only read), makes its derivatives, and records
// it in one transaction. Kinds come from the content, never the name.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "library/status.h"
#include "platform/library_writer.h"
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

Result<ImportOptions> parseOptions(const Arguments& arguments) {
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
      return Status::error("unknown import option '" + a + "'");
    }
  }
  if (options.paths.empty()) {
    return Status::error("usage: import [--album ALBUM_ID] [--no-date] PATH...");
  }
  return options;
}

}  // namespace

int runImport(const Arguments& arguments) {
  const auto options = parseOptions(arguments);
  if (!options) return failWith(options.message());

  auto library = LibraryWriter::open(userLibraryLocation());
  if (!library) return failWith(library.message());
  LibraryWriter::ImportSettings settings;
  settings.recordDate = !options->noDate;
  if (options->album) {
    auto album = (*library)->catalog().albumRow(*options->album);
    if (!album) return failWith(album.message());
    settings.albumRow = *album;
  }

  (*library)->removeOrphans();
  const std::vector<Source> sources = collectSources(options->paths);
  int status = 0;
  ProgressBar progress(sources.size());
  for (const Source& source : sources) {
    Result<LibraryWriter::Imported> imported = Status::error(source.error);
    if (source.error.empty()) imported = (*library)->importFile(source.path, settings);
    progress.clear();  // standard output may be the same terminal
    if (imported) {
      // Reported only once committed, and flushed at once, so that a killed
      // import never reported an asset the catalog lacks.
      std::printf("%s\t%s\n", imported->identifier.c_str(), source.path.c_str());
      std::fflush(stdout);
      if (imported->existing) {
        std::fprintf(stderr, "tolvek-photos-library: %s: already in the library as %s\n", source.path.c_str(),
                     imported->identifier.c_str());
      }
    } else {
      status = failWith(source.path + ": " + imported.message());
    }
    progress.advance();
  }
  return status;
}

}  // namespace tolvek::tool
