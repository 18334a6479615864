// watch --install / --uninstall: the systemd user service that runs watch in
// the background with the library this very run uses. Nothing is enabled
// here: the one command that does it is printed.
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/system/library_location.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/path_text.h"
#include "platform/posix/temporary_files.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

constexpr char kUnitName[] = "tolvek-photos-watch.service";

std::string configHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  return std::string(g_get_home_dir()) + "/.config";
}

std::string unitFolder() { return configHome() + "/systemd/user"; }

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
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

// The unit that runs `tool` watch with this library's data and config homes.
Result<std::string> watchUnit(const std::string& tool, const LibraryLocation& location, const std::string& config) {
  const std::string dataHome(folderPart(location.dataFolder));
  const auto exec = systemdQuoted(tool, true);
  const auto data = systemdQuoted("XDG_DATA_HOME=" + dataHome, false);
  const auto conf = systemdQuoted("XDG_CONFIG_HOME=" + config, false);
  if (!exec || !data || !conf) return Status::error("a path holds a line feed or control character");
  return "[Unit]\n"
         "Description=Keep the Tolvek photo library in step with its sources\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" + *exec + " watch\n"
         "Environment=" + *data + " " + *conf + "\n"
         "Nice=19\n"
         "IOSchedulingClass=idle\n"
         "CPUSchedulingPolicy=idle\n"
         "Restart=on-failure\n"
         "RestartSec=30\n"
         "\n"
         "[Install]\n"
         "WantedBy=default.target\n";
}

}  // namespace

int runUserUnit(bool install) {
  const std::string folder = unitFolder();
  const std::string path = folder + "/" + kUnitName;
  const std::string name = kUnitName;
  if (!install) {
    if (!exists(path)) {
      std::fprintf(stderr, "tolvek-photos-library: watch: no service installed at %s\n", outputField(path).c_str());
      return kExitOk;
    }
    if (::unlink(path.c_str()) != 0) return failWith("watch: cannot remove " + path + ": " + errorText(errno));
    std::fprintf(stderr, "tolvek-photos-library: watch: removed %s\n", outputField(path).c_str());
    if (exists(configHome() + "/systemd/user/default.target.wants/" + name)) {
      std::printf("systemctl --user disable --now %s\n", kUnitName);
    }
    return kExitOk;
  }
  char self[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", self, PATH_MAX);
  if (length <= 0) return failWith("watch: cannot tell where this tool is: " + errorText(errno));
  auto unit = watchUnit(std::string(self, static_cast<std::size_t>(length)), userLibraryLocation(), configHome());
  if (!unit) return failWith("watch: cannot write the service: " + unit.message());
  const bool replacing = exists(path);
  if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) return failWith("watch: cannot make " + folder + ": " + errorText(errno));
  if (Status written = writeFileAtomically(path, *unit, Publish::replace, 0644); !written) {
    return failWith("watch: cannot write " + path + ": " + written.message());
  }
  std::fprintf(stderr, "tolvek-photos-library: watch: wrote %s\n", outputField(path).c_str());
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

}  // namespace tolvek::tool
