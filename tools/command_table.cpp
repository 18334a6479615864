#include "command_table.h"

#include <array>

#include "platform/managers/photo_managers.h"

namespace tolvek::tool {
namespace {

std::span<const KnownOption> noOptions() { return {}; }

std::span<const KnownOption> importOptions() {
  static constexpr std::array options{KnownOption{"album", true}, KnownOption{"no-date"}};
  return options;
}

std::span<const KnownOption> albumOptions() {
  static constexpr std::array options{KnownOption{"untitled"}};
  return options;
}

std::span<const KnownOption> favoriteOptions() {
  static constexpr std::array options{KnownOption{"off"}};
  return options;
}

std::span<const KnownOption> watchOptions() {
  static constexpr std::array options{KnownOption{"install"}, KnownOption{"uninstall"}};
  return options;
}

// One option per photo manager the library takes in (--shotwell, --digikam).
std::span<const KnownOption> addOptions() {
  static const std::vector<KnownOption> options = [] {
    std::vector<KnownOption> list;
    for (const PhotoManager& manager : photoManagers()) list.push_back({manager.word, false});
    return list;
  }();
  return options;
}

constexpr std::string_view kHelpSummary = "  help COMMAND                       show a command's help\n";

// The least indent of a summary line that continues a description.
constexpr std::size_t kContinuedIndent = 10;

constexpr std::array kCommands{
    ToolCommand{"sync", "  sync [SOURCE...]                   bring the library up to date with its sources\n",
                "Brings the library up to date with every source, or with the sources named\n"
                "(folders, or photo managers' databases). A folder inside a source is no\n"
                "source of its own: name the source that holds it.\n"
                "Files are only read, never changed. A file unchanged since the last sync is\n"
                "not read again; a file moved or renamed keeps its identifier. The first sync\n"
                "of a library that never had a source adds the Pictures folder. Links are\n"
                "never followed; a link to a folder outside every source is named, with\n"
                "where it leads, and counted in the summary.\n"
                "\n"
                "Prints one line per change: added, changed, moved or removed, a tab, the\n"
                "asset's identifier, a tab, the file's path. Ends with a summary on standard\n"
                "error. Exit status 1 when a picture or video could not be read or a source\n"
                "is offline (its assets are kept until it is back).\n",
                runSync, noOptions},
    ToolCommand{"add", "  add FOLDER...                      reference the pictures and videos of folders\n"
                       "  add --shotwell|--digikam [DATABASE]\n"
                       "                                     take in a Shotwell or digiKam library\n",
                "Records each folder as a source: its pictures, videos and audio files are\n"
                "referenced where they are (never copied or changed), and every folder that\n"
                "holds some becomes an album titled by its path. Then syncs the new sources\n"
                "and prints what sync prints. Folders and files whose name starts with a dot,\n"
                "and folders holding a file named .nomedia, are left out. A folder that is a\n"
                "source already, or lies inside one, is left as it is: add says which source\n"
                "holds it.\n"
                "\n"
                "With --shotwell or --digikam, records that photo manager's database as a\n"
                "source instead (by default the one it uses: Shotwell's photo.db under\n"
                "$XDG_DATA_HOME/shotwell/data, or its Flatpak's; digiKam's digikam4.db in the\n"
                "folder its digikamrc names). The files it records are referenced where they\n"
                "are; its events, tags and folders become albums. The database is only read,\n"
                "from a snapshot taken in a moment; files it records that are missing are\n"
                "counted and left out.\n",
                runAdd, addOptions},
    ToolCommand{"sources", "  sources                            list the sources\n",
                "Prints one line per source: its path, a tab, present or offline, a tab, the\n"
                "number of assets with a copy in it, a tab, its kind: folder, shotwell or\n"
                "digikam.\n",
                runSources, noOptions},
    ToolCommand{"forget", "  forget SOURCE                      stop referencing a source\n",
                "Removes the source and every asset found only there from the library, with\n"
                "the albums it gave. The folder (or database) and its files stay untouched.\n",
                runForget, noOptions},
    ToolCommand{"import", "  import [--album ALBUM_ID] [--no-date] PATH...\n"
                          "                                     copy files into the library\n",
                "Copies pictures, videos and audio files into the library (folders are read\n"
                "recursively); the files themselves are only read. Kinds come from the\n"
                "content, never the name. Content the library already has is not copied\n"
                "again. Other files (.DS_Store, Thumbs.db, text, sidecars) are skipped.\n"
                "\n"
                "Options:\n"
                "  --album ALBUM_ID   also add every imported asset to this album (an\n"
                "                     identifier printed by album create or album list)\n"
                "  --no-date          record no capture date, so the assets sort after every\n"
                "                     dated one (by default the date comes from the file's\n"
                "                     metadata, else its modification time)\n"
                "\n"
                "Prints one line per picture, video or audio file: the asset's identifier, a\n"
                "tab, the path. Ends with a summary on standard error. Exit status 1 when a\n"
                "picture, video or audio file could not be imported.\n",
                runImport, importOptions},
    ToolCommand{"which", "  which PATH...                      print the identifiers of files' assets\n",
                "Prints one line per file the library knows: the identifier of its asset, a\n"
                "tab, the path as given. A file is known when it is a copy in a source as the\n"
                "last sync recorded it (the path as written, or with the links of its folders\n"
                "resolved), or when the library holds its content (a file that was imported,\n"
                "wherever it lies now). The identifiers can be given to tolvek-photos. A PATH\n"
                "of - reads paths from standard input, one a line.\n"
                "\n"
                "Exit status 1 when a path names no file the library knows (a folder, a FIFO\n"
                "or device, or a file whose content it does not hold); the others are still\n"
                "printed.\n",
                runWhich, noOptions},
    ToolCommand{"album",
                "  album list                         list the albums\n"
                "  album create TITLE | --untitled    create an album\n"
                "  album rename ALBUM_ID TITLE        retitle an album\n"
                "  album delete ALBUM_ID              delete an album (its assets stay)\n"
                "  album add ALBUM_ID ASSET_ID...     add assets to an album\n"
                "  album remove ALBUM_ID ASSET_ID...  take assets out of an album\n",
                "album list prints one line per album: its identifier, a tab, its title\n"
                "(nothing for an untitled album), a tab, the number of assets, a tab, its\n"
                "kind: favorites or videos for the smart albums, which always hold the\n"
                "favourites and the videos and come first; folder for the album of a source's\n"
                "folder; shotwell or digikam for an event, tag or folder of that photo\n"
                "manager; user for one made here. Any of these identifiers can be given to\n"
                "tolvek-photos list.\n"
                "album create prints the new album's identifier.\n"
                "\n"
                "ASSET_ID may also be the path of a file the library holds (see which). An\n"
                "ASSET_ID of - reads identifiers from standard input, one a line. Every\n"
                "identifier is checked first: when one names nothing, nothing changes. The\n"
                "smart albums and the albums of sources hold what their rule, folder or\n"
                "photo manager holds and cannot be edited.\n",
                runAlbum, albumOptions},
    ToolCommand{"favorite", "  favorite [--off] ASSET_ID...       mark assets as favourites, or unmark them\n",
                "Marks the assets as favourites, or with --off no longer. ASSET_ID may also\n"
                "be the path of a file the library holds (see which). An ASSET_ID of - reads\n"
                "identifiers from standard input, one a line. Every identifier is checked\n"
                "first: when one names nothing, nothing changes.\n",
                runFavorite, favoriteOptions},
    ToolCommand{"remove", "  remove ASSET_ID...                 remove imported assets from the library\n",
                "Removes the assets with the library's copies of their originals and their\n"
                "derivatives. An asset found in a source is refused: delete its file there,\n"
                "or forget the source. ASSET_ID may also be the path of a file the library\n"
                "holds (see which). An ASSET_ID of - reads identifiers from standard input,\n"
                "one a line. Every identifier is checked first: when one cannot be removed,\n"
                "nothing is.\n",
                runRemove, noOptions},
    ToolCommand{"offload", "  offload ASSET_ID URL               keep an original only at a URL\n",
                "Keeps the asset's original only at URL (http or https) from now on: the URL\n"
                "is downloaded first and must serve exactly the original; then the library's\n"
                "copy is removed and its derivatives stay. Nothing changes when it fails.\n"
                "ASSET_ID may also be the path of a file the library holds (see which).\n",
                runOffload, noOptions},
    ToolCommand{"access",
                "  access grant|deny|restrict|reset   record the answer tolvek-photos gives\n"
                "  access limit [ASSET_ID...]         give access to these assets only\n",
                "Records the answer to tolvek-photos' request for access to the library:\n"
                "  grant      full access\n"
                "  deny       no access (tolvek-photos answers \"denied\")\n"
                "  restrict   access restricted, as by a policy\n"
                "  limit      these assets only (none named: no asset at all); an\n"
                "             ASSET_ID of - reads identifiers from standard input, one a\n"
                "             line; it may also be the path of a file the library holds\n"
                "  reset      forget the answer, so tolvek-photos asks again\n",
                runAccess, noOptions},
    ToolCommand{"watch", "  watch [--install | --uninstall]    keep the library in step with its sources\n",
                "Syncs every source once, then follows the changes the system reports in\n"
                "their folders (folders made later and sources added or forgotten by other\n"
                "runs included) and syncs each burst of them a moment after it settles:\n"
                "files still being written wait until they are closed. Runs until SIGTERM\n"
                "or SIGINT, which end it once the current batch is committed. Sources on\n"
                "network or FUSE file systems, which report no changes, are rescanned every\n"
                "minute. One watch runs per library; another is refused. It ends with exit\n"
                "status 1 when the catalog is damaged or the library folder is deleted.\n"
                "\n"
                "Options:\n"
                "  --install     print the command that turns on the systemd user service\n"
                "                tolvek-photos-watch.service, which runs watch at low\n"
                "                priority. An installed program ships it for the default\n"
                "                library; without one, it is written first, for this run's\n"
                "                library (a tool in a build folder says so: the service\n"
                "                stops working when that folder goes)\n"
                "  --uninstall   remove the service --install wrote; an installed one stays\n"
                "\n"
                "Prints what sync prints, for each sync it runs.\n",
                runWatch, watchOptions},
    ToolCommand{"status", "  status                             show the library and its counts\n",
                "Prints one line per fact, a name, a tab and its value: folder (the library\n"
                "folder), schema (the catalog's version), assets, albums, sources (present\n"
                "and offline), access (the recorded answer), size (bytes on disk) and\n"
                "catalog (ok, or damaged and the first problem SQLite's quick check found).\n"
                "Exit status 1 for a damaged catalog, whose other facts are then left out.\n",
                runStatus, noOptions},
    ToolCommand{"path", "  path                               print the library folder\n", "", runPath, noOptions},
};

}  // namespace

std::span<const ToolCommand> toolCommands() { return kCommands; }

std::span<const KnownOption> commandOptions(std::string_view word) {
  const ToolCommand* command = findToolCommand(word);
  return command != nullptr ? command->options() : std::span<const KnownOption>{};
}

const ToolCommand* findToolCommand(std::string_view word) {
  for (const ToolCommand& command : kCommands) {
    if (command.word == word) return &command;
  }
  return nullptr;
}

std::string overviewText() {
  std::string text =
      "Usage: tolvek-photos-library COMMAND [ARGUMENTS]\n"
      "\n"
      "Keeps the photo library that tolvek-photos reads.\n"
      "\n"
      "Commands:\n";
  for (const ToolCommand& command : kCommands) text += command.summary;
  text += kHelpSummary;
  text +=
      "\n"
      "Options: --help, --version. The library lives in\n"
      "$XDG_DATA_HOME/tolvek-photos/Library (default ~/.local/share/tolvek-photos/Library).\n";
  return text;
}

std::vector<SummaryEntry> summaryEntries(std::string_view summary) {
  std::vector<SummaryEntry> entries;
  while (!summary.empty()) {
    const std::size_t end = summary.find('\n');
    std::string_view line = summary.substr(0, end);
    summary.remove_prefix(end == std::string_view::npos ? summary.size() : end + 1);
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos) continue;
    if (indent >= kContinuedIndent) {  // a continued description
      if (entries.empty()) continue;
      std::string& description = entries.back().description;
      if (!description.empty()) description += ' ';
      description += line.substr(indent);
      continue;
    }
    line.remove_prefix(indent);
    const std::size_t gap = line.find("  ");
    SummaryEntry entry{std::string(line.substr(0, gap)), ""};
    if (gap != std::string_view::npos) {
      const std::size_t start = line.find_first_not_of(' ', gap);
      if (start != std::string_view::npos) entry.description = line.substr(start);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> usageLines(const ToolCommand& command) {
  std::vector<std::string> usages;
  for (SummaryEntry& entry : summaryEntries(command.summary)) usages.push_back(std::move(entry.usage));
  return usages;
}

std::string_view helpSummary() { return kHelpSummary; }

std::vector<std::string> overviewUsages() {
  std::vector<std::string> usages;
  for (const ToolCommand& command : kCommands) {
    for (std::string& usage : usageLines(command)) usages.push_back(std::move(usage));
  }
  for (SummaryEntry& entry : summaryEntries(kHelpSummary)) usages.push_back(std::move(entry.usage));
  return usages;
}

std::string commandHelpText(const ToolCommand& command) {
  std::string text = "Usage:\n";
  for (const std::string& usage : usageLines(command)) text += "  tolvek-photos-library " + usage + "\n";
  if (!command.help.empty()) {
    text += '\n';
    text += command.help;
  }
  return text;
}

}  // namespace tolvek::tool
