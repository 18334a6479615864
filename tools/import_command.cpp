// import [--album ALBUM_ID] [--no-date] PATH...: copies each file into the
// library (the user's file is only read), makes its derivatives, and records
// it in one transaction. Kinds come from the content, never the name; files
// that are no media are skipped and counted, not failed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "library/status.h"
#include "platform/library_writer.h"
#include "progress_bar.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

namespace fs = std::filesystem;

struct Source {
  std::string path;    // as the user named it, or found below a named folder
  std::string error;   // set when the path cannot be imported at all
  bool named = false;  // named on the command line, not found in a folder
};

// Every file to import, in a stable order: named files as given, folders
// walked recursively (without following links to folders) in name order.
std::vector<Source> collectSources(const std::vector<std::string>& paths) {
  std::vector<Source> sources;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      sources.push_back({path, "no such file or folder", true});
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
      sources.push_back({path, {}, true});
    } else {
      sources.push_back({path, "not a regular file", true});
    }
  }
  return sources;
}

}  // namespace

int runImport(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, commandOptions("import"));
  if (!parsed) return usageError("import", parsed.message());
  if (parsed->operands.empty()) return usageError("import", "no PATH given");

  auto library = openLibrary();
  if (!library) return kExitFailure;
  LibraryWriter::ImportSettings settings;
  settings.recordDate = !parsed->has("no-date");
  if (const std::string* albumId = parsed->value("album")) {
    auto album = library->catalog().albumRow(*albumId);
    if (!album) return failWith(album.message());
    settings.albumRow = *album;
  }

  library->removeOrphans();
  const std::vector<Source> sources = collectSources(parsed->operands);
  std::size_t added = 0, existing = 0, skipped = 0, failed = 0, rejected = 0;
  ProgressBar progress(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const Source& source = sources[i];
    progress.show(i, sources.size(), source.path);
    Result<LibraryWriter::Imported> imported = Status::error(source.error);
    if (source.error.empty()) imported = library->importFile(source.path, settings);
    progress.clear();  // standard output may be the same terminal
    if (!imported) {
      ++failed;
      failWith(source.path + ": " + imported.message());
      continue;
    }
    using Outcome = LibraryWriter::Imported::Outcome;
    if (imported->outcome == Outcome::notMedia) {
      ++skipped;
      // Clutter found in a folder goes by quietly; a file named itself is told.
      if (source.named) failWith(source.path + ": skipped, not a picture, video or audio file");
      continue;
    }
    if (imported->outcome == Outcome::rejected) {
      // Told even when found in a folder: it is a picture the user may miss.
      ++rejected;
      failWith(source.path + ": skipped, marked rejected (XMP rating -1); clear the mark to import it");
      continue;
    }
    // Reported only once committed, and flushed at once, so that a killed
    // import never reported an asset the catalog lacks.
    std::printf("%s\t%s\n", imported->identifier.c_str(), outputField(source.path).c_str());
    std::fflush(stdout);
    if (imported->outcome == Outcome::existing) {
      ++existing;
      failWith(source.path + ": already in the library as " + imported->identifier);
    } else {
      ++added;
    }
  }
  progress.clear();
  std::fprintf(stderr,
               "tolvek-photos-library: imported: %zu added, %zu already in the library, "
               "%zu skipped (not pictures, videos or audio), %zu failed%s\n",
               added, existing, skipped, failed,
               rejected > 0 ? (", " + std::to_string(rejected) + " marked rejected").c_str() : "");
  return failed > 0 ? kExitFailure : kExitOk;
}

}  // namespace tolvek::tool
