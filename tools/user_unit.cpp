// watch --install / --uninstall: the systemd user service that runs watch in
// the background. An installation ships one (the package's, or that of
// `cmake --install`) for the default library; without one, --install writes
// one into the user's configuration for the library this very run uses. Both
// come from one text, packaging/tolvek-photos-watch.service.in. Nothing is
// enabled here: the one command that does it is printed.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"
#include "platform/system/library_location.h"
#include "tool_commands.h"
#include "user_unit_text.h"

namespace tolvek::tool {
namespace {

constexpr char kUnitName[] = "tolvek-photos-watch.service";
// Where the unit's text takes the tool's quoted path and this run's library.
constexpr std::string_view kExecMarker = "@TOLVEK_WATCH_EXEC@";
constexpr std::string_view kEnvironmentMarker = "@TOLVEK_WATCH_ENVIRONMENT@";

void say(const std::string& message) {
  std::fprintf(stderr, "tolvek-photos-library: watch: %s\n", message.c_str());
}

// An absolute path from the variable `name`, else `fallback`.
std::string absoluteFrom(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : fallback;
}

std::string configHome() { return absoluteFrom("XDG_CONFIG_HOME", userHomeFolder() + "/.config"); }

// The folder of the units the user writes, where --install writes its own.
std::string unitFolder() { return configHome() + "/systemd/user"; }

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The folders an installation puts user units in, in the order systemd
// searches them (systemd.unit(5)): the XDG data home, each XDG data folder,
// then the administrator's and the distribution's folders.
std::vector<std::string> installedUnitFolders() {
  std::vector<std::string> folders{absoluteFrom("XDG_DATA_HOME", userHomeFolder() + "/.local/share") +
                                   "/systemd/user"};
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  const std::string list = dirs != nullptr && dirs[0] != '\0' ? dirs : "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string folder = list.substr(start, end - start);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && folder[0] == '/') folders.push_back(folder + "/systemd/user");
    start = end + 1;
  }
  folders.push_back("/usr/local/lib/systemd/user");
  folders.push_back("/usr/lib/systemd/user");
  return folders;
}

// The installed unit systemd would load when the user wrote none.
std::optional<std::string> installedUnit() {
  for (const std::string& folder : installedUnitFolders()) {
    if (exists(folder + "/" + kUnitName)) return folder + "/" + kUnitName;
  }
  return std::nullopt;
}

// Whether `tool` runs from a build folder: CMake's cache lies in its folder
// or the one above (bin/ of the build).
bool inBuildFolder(const std::string& tool) {
  const std::string folder(folderPart(tool));
  return exists(folder + "/CMakeCache.txt") || exists(std::string(folderPart(folder)) + "/CMakeCache.txt");
}

// `text` as one double-quoted word of a unit file: backslash and quote
// escaped, "%" doubled (specifiers) and, with `command`, "$" doubled
// (variable expansion in Exec lines). Nothing for text holding a control
// character, which no unit line can carry.
std::optional<std::string> systemdQuoted(std::string_view text, bool command) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return std::nullopt;
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    if (c == '$' && command) out += '$';
    out += c;
  }
  return out + "\"";
}

void replaceMarker(std::string& text, std::string_view marker, const std::string& value) {
  if (const std::size_t at = text.find(marker); at != std::string::npos) text.replace(at, marker.size(), value);
}

// The unit that runs `tool` watch with this library's data and config homes.
Result<std::string> watchUnit(const std::string& tool, const LibraryLocation& location, const std::string& config) {
  const std::string dataHome(folderPart(location.dataFolder));
  const auto exec = systemdQuoted(tool, true);
  const auto data = systemdQuoted("XDG_DATA_HOME=" + dataHome, false);
  const auto conf = systemdQuoted("XDG_CONFIG_HOME=" + config, false);
  if (!exec || !data || !conf) return Status::error("a path holds a line feed or control character");
  std::string unit = kWatchUnitTemplate;
  replaceMarker(unit, kExecMarker, *exec);
  replaceMarker(unit, kEnvironmentMarker, "Environment=" + *data + " " + *conf);
  return unit;
}

// An installed unit exists: nothing is written. It serves the library of the
// user manager's environment, the default one.
int useInstalledUnit(const std::string& installed, const std::string& own) {
  say("found the installed service " + outputField(installed) + "; nothing written");
  if (exists(own)) {
    say(outputField(own) + ", written by an earlier watch --install, takes its place; remove it with: "
        "tolvek-photos-library watch --uninstall");
  }
  const std::string here = userLibraryLocation().libraryFolder;
  const std::string standard = libraryLocationIn(userHomeFolder() + "/.local/share").libraryFolder;
  if (here != standard) {
    say("it serves the default library " + outputField(standard) + ", not this run's " + outputField(here) +
        "; to serve this one, set XDG_DATA_HOME in an Environment= line under [Service] with: "
        "systemctl --user edit " + kUnitName);
  }
  std::printf("systemctl --user enable --now %s\n", kUnitName);
  return kExitOk;
}

int writeUnit(const std::string& folder, const std::string& path) {
  char self[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", self, PATH_MAX);
  if (length <= 0) return failWith("watch: cannot tell where this tool is: " + errorText(errno));
  const std::string tool(self, static_cast<std::size_t>(length));
  auto unit = watchUnit(tool, userLibraryLocation(), configHome());
  if (!unit) return failWith("watch: cannot write the service: " + unit.message());
  const bool replacing = exists(path);
  if (!makeFolders(folder, 0755)) return failWith("watch: cannot make " + folder + ": " + errorText(errno));
  if (Status written = writeFileAtomically(path, *unit, Publish::replace, 0644); !written) {
    return failWith("watch: cannot write " + path + ": " + written.message());
  }
  say("wrote " + outputField(path));
  if (inBuildFolder(tool)) {
    say("the service runs " + outputField(tool) + " in a build folder and stops working when that folder "
        "goes; install the program for a lasting service");
  }
  // enable reloads the manager's configuration itself, but only when it
  // changes a link: a replaced unit needs the reload and a restart.
  if (replacing) {
    std::printf("systemctl --user daemon-reload && systemctl --user enable %s && systemctl --user restart %s\n",
                kUnitName, kUnitName);
  } else {
    std::printf("systemctl --user enable --now %s\n", kUnitName);
  }
  return kExitOk;
}

// Removes only the unit --install wrote; an installed one stays.
int removeUnit(const std::string& path) {
  const bool enabled = exists(unitFolder() + "/default.target.wants/" + kUnitName);
  const std::optional<std::string> installed = installedUnit();
  if (!exists(path)) {
    if (installed) {
      say("no service of its own at " + outputField(path) + "; the installed " + outputField(*installed) +
          " belongs to the installation and stays");
    } else {
      say("no service installed at " + outputField(path));
    }
  } else {
    if (::unlink(path.c_str()) != 0) return failWith("watch: cannot remove " + path + ": " + errorText(errno));
    say("removed " + outputField(path));
    if (installed) say("the installed " + outputField(*installed) + " takes its place");
  }
  if (enabled) std::printf("systemctl --user disable --now %s\n", kUnitName);
  return kExitOk;
}

}  // namespace

int runUserUnit(bool install) {
  const std::string folder = unitFolder();
  const std::string path = folder + "/" + kUnitName;
  if (!install) return removeUnit(path);
  if (const auto installed = installedUnit()) return useInstalledUnit(*installed, path);
  return writeUnit(folder, path);
}

}  // namespace tolvek::tool
