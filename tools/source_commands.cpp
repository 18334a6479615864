// add FOLDER..., add --shotwell|--digikam [DATABASE], sync [SOURCE...],
// sources, forget SOURCE: the folders whose pictures and videos the library
// references where they are, and other photo managers' databases naming
// such files. The user's files and those databases are only ever read.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/library_writer.h"
#include "platform/posix/posix_file.h"
#include "platform/managers/manager_catalog.h"
#include "platform/managers/photo_managers.h"
#include "pictures_folder.h"
#include "progress_bar.h"
#include "sync_report.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

const char* changeWord(SyncChange change) {
  switch (change) {
    case SyncChange::added: return "added";
    case SyncChange::changed: return "changed";
    case SyncChange::moved: return "moved";
    case SyncChange::removed: return "removed";
  }
  return "changed";
}

// The folders named: operands only (a folder whose name starts with a dash
// follows "--").
Result<Arguments> folderOperands(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, {});
  if (!parsed) return parsed.status();
  return parsed->operands;
}

}  // namespace

int syncAndReport(LibraryWriter& library, const std::vector<Source>& sources, SyncObserver observer,
                  Status* failure) {
  ProgressBar progress(0);
  observer.changed = [&, also = std::move(observer.changed)](const SyncEvent& event) {
    progress.clear();
    // Reported once committed, and flushed at once, so that a killed sync
    // never reported a change the catalog lacks.
    std::printf("%s\t%s\t%s\n", changeWord(event.change), event.assetIdentifier.c_str(),
                outputField(event.path).c_str());
    std::fflush(stdout);
    if (also) also(event);
  };
  observer.problem = [&](const std::string& message) {
    progress.clear();
    failWith(message);
  };
  observer.progress = [&](std::size_t done, std::size_t total, std::uint64_t bytes, const std::string& path) {
    progress.show(done, total, path, bytes);
  };
  auto tally = library.sync(sources, observer);
  progress.clear();
  if (failure != nullptr) *failure = tally.status();
  if (!tally) return failWith(tally.message());
  std::string missing =
      tally->missing > 0 ? ", " + std::to_string(tally->missing) + " missing (recorded by a photo manager)" : "";
  if (const std::size_t links = tally->linksNotFollowed; links > 0)
    missing += ", " + std::to_string(links) + (links == 1 ? " link" : " links") + " not followed";
  std::fprintf(stderr,
               "tolvek-photos-library: synced: %zu added, %zu changed, %zu moved, %zu removed, %zu unchanged, "
               "%zu skipped (not pictures, videos or audio), %zu failed, %zu offline%s\n",
               tally->added, tally->changed, tally->moved, tally->removed, tally->unchanged, tally->skipped,
               tally->failed, tally->offline, missing.c_str());
  return tally->failed > 0 || tally->offline > 0 ? kExitFailure : kExitOk;
}

namespace {

// add --shotwell [PHOTO_DB], add --digikam [DIGIKAM4_DB] and so on for
// every row of photo_managers.h: the manager's database where it keeps it
// when none is named.
int addManager(SourceKind kind, const Arguments& operands) {
  const std::string word(sourceKindWord(kind));
  if (operands.size() > 1) return usageError("add", "--" + word + " takes at most one database");
  std::string database;
  if (!operands.empty()) {
    database = operands.front();
  } else if (auto found = defaultManagerDatabase(kind)) {
    database = *found;
  } else {
    return failWith("no " + word + " database found where " + word +
                    " keeps it; name it: tolvek-photos-library add --" + word + " DATABASE");
  }
  auto library = openLibraryToChangeSources();
  if (!library) return kExitFailure;
  auto source = library->addManagerSource(kind, database);
  if (!source) return failWith(source.message());
  return syncAndReport(*library, {*source});
}

// `text` as one word of a shell's command line: as it is when it holds
// only characters no shell treats specially, else in single quotes.
std::string shellWord(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                             "0123456789/._-+,:@%=") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// add of a folder the library already covers: said, and not an error.
void reportCovered(const std::string& folder, const LibraryWriter::AddedSource& covering) {
  const std::string said = covering.how == LibraryWriter::Added::isASource
                               ? folder + " is already a source"
                               : folder + " is already in the library: it lies inside the source " +
                                     covering.source.path;
  std::fprintf(stderr, "tolvek-photos-library: %s\n", outputField(said).c_str());
}

// sync FOLDER of a folder that is no source: the command that takes it in,
// syncing the source that holds it, or adding it. A path that is no folder
// gets no hint: neither command would take it.
int notASource(LibraryWriter& library, const std::string& folder, const std::string& message) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return failWith(folder + ": " + errorText(errno));
  if (!S_ISDIR(info.st_mode)) return failWith(message);
  auto covering = library.coveringSource(folder);
  if (!covering) return failWith(covering.message());
  if (*covering) {
    const std::string& source = (*covering)->source.path;
    return failWith(message + "; it lies inside the source " + source +
                    ", synced with: tolvek-photos-library sync " + shellWord(source));
  }
  const char* const optionsEnd = folder.starts_with('-') ? "-- " : "";
  return failWith(message + "; add it with: tolvek-photos-library add " + optionsEnd + shellWord(folder));
}

}  // namespace

int runAdd(const Arguments& given) {
  auto parsed = parseArguments(given, commandOptions("add"));
  if (!parsed) return usageError("add", parsed.message());
  const PhotoManager* chosen = nullptr;
  for (const PhotoManager& manager : photoManagers()) {
    if (!parsed->has(manager.word)) continue;
    if (chosen != nullptr) {
      return usageError("add", "--" + std::string(chosen->word) + " and --" + std::string(manager.word) +
                                   " cannot be given together");
    }
    chosen = &manager;
  }
  if (chosen != nullptr) return addManager(chosen->kind, parsed->operands);
  const Arguments* arguments = &parsed->operands;
  if (arguments->empty()) return usageError("add", "no FOLDER given");
  auto library = openLibraryToChangeSources();
  if (!library) return kExitFailure;
  std::vector<Source> added;
  int status = 0;
  for (const std::string& folder : *arguments) {
    auto source = library->addSource(folder);
    if (!source) {
      status = failWith(source.message());
    } else if (source->how != LibraryWriter::Added::now) {
      reportCovered(folder, *source);
    } else {
      added.push_back(std::move(source->source));
    }
  }
  if (added.empty()) return status;
  const int synced = syncAndReport(*library, added);
  return status != 0 ? status : synced;
}

int runSync(const Arguments& given) {
  auto arguments = folderOperands(given);
  if (!arguments) return usageError("sync", arguments.message());
  auto library = openLibraryToChangeSources();
  if (!library) return kExitFailure;
  std::vector<Source> which;
  for (const std::string& folder : *arguments) {
    auto source = library->findSource(folder);
    if (!source) return notASource(*library, folder, source.message());
    which.push_back(std::move(source).value());
  }
  if (which.empty()) {
    auto ever = library->catalog().anySourceEverAdded();
    if (!ever) return failWith(ever.message());
    if (!*ever) {
      // A first sync with nothing named starts with the Pictures folder.
      const auto pictures = userPicturesFolder();
      if (!pictures) {
        return failWith("no sources yet and no Pictures folder; add one with: tolvek-photos-library add FOLDER");
      }
      auto source = library->addSource(*pictures);
      if (!source) return failWith(source.message());
      std::fprintf(stderr, "tolvek-photos-library: added the Pictures folder %s as a source\n",
                   outputField(source->source.path).c_str());
    }
  }
  return syncAndReport(*library, which);
}

int runSources(const Arguments& arguments) {
  if (!arguments.empty()) return usageError("sources", "takes no arguments");
  auto library = openLibrary();
  if (!library) return kExitFailure;
  auto sources = library->catalog().sources();
  if (!sources) return failWith(sources.message());
  for (const Source& source : *sources) {
    auto count = library->catalog().assetCountOf(source.row);
    if (!count) return failWith(count.message());
    const bool present = sourceOfflineReason(source, *count > 0).empty();
    std::printf("%s\t%s\t%lld\t%s\n", outputField(source.path).c_str(), present ? "present" : "offline",
                static_cast<long long>(*count), std::string(sourceKindWord(source.kind)).c_str());
  }
  return kExitOk;
}

int runForget(const Arguments& given) {
  auto arguments = folderOperands(given);
  if (!arguments) return usageError("forget", arguments.message());
  if (arguments->size() != 1) return usageError("forget", "usage: forget FOLDER");
  auto library = openLibraryToChangeSources();
  if (!library) return kExitFailure;
  auto source = library->findSource(arguments->front());
  if (!source) return failWith(source.message());
  if (Status forgotten = library->forgetSource(*source); !forgotten) return failWith(forgotten.message());
  std::fprintf(stderr, "tolvek-photos-library: forgot %s; its files are untouched\n", outputField(source->path).c_str());
  return kExitOk;
}

}  // namespace tolvek::tool
