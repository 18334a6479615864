// Where digiKam's things are: the folder an album root's identifier names
// (a path, a network share's mount path, or a file system by UUID or label,
// found through libblkid and the mount table), and the database its
// digikamrc names.
#include <blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <cstdlib>

#include "platform/managers/manager_readers.h"
#include "platform/posix/posix_file.h"
#include "platform/system/hex_digits.h"
#include "platform/system/mount_table.h"

namespace tolvek::managers {
namespace {

// %XX decoded; a "%" not followed by two hex digits is kept as it is.
std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 && hexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The first value of `key` in the query part (after "?") of an identifier.
std::optional<std::string> queryValue(std::string_view identifier, std::string_view key) {
  const std::size_t question = identifier.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = identifier.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == key) return percentDecoded(pair.substr(equals + 1));
  }
  return std::nullopt;
}

// The mount of the block device holding the file system whose `tag` (UUID,
// LABEL) is `value`, as libblkid finds it: through udev's /dev/disk links,
// else by probing the devices it may read. Its cache is /dev/null, so a
// lookup leaves no cache file behind.
std::optional<std::string> mountOfTag(const char* tag, const std::string& value) {
  if (value.empty() || value.find('\0') != std::string::npos) return std::nullopt;
  blkid_cache cache = nullptr;
  if (::blkid_get_cache(&cache, "/dev/null") != 0) cache = nullptr;
  char* name = ::blkid_evaluate_tag(tag, value.c_str(), cache != nullptr ? &cache : nullptr);
  if (cache != nullptr) ::blkid_put_cache(cache);
  if (name == nullptr) return std::nullopt;
  const std::string device(name);
  std::free(name);
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
  Result<std::vector<Mount>> mounts = readMountTable();
  if (!mounts) return std::nullopt;
  return mountPointIn(*mounts, info.st_rdev, device);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// KConfig's escapes in a value: \s, \t, \n, \r, \\.
std::string rcUnescaped(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's': out += ' '; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: out += value[i]; break;
    }
  }
  return out;
}

// A value marked for expansion ("Database Name[$e]=$HOME/…") with `home`
// for $HOME.
std::string expanded(std::string value, std::string_view home) {
  for (const std::string_view variable : {"${HOME}", "$HOME"}) {
    if (value.starts_with(variable)) return std::string(home) + value.substr(variable.size());
  }
  return value;
}

// A configuration file is small; anything larger is not digiKam's.
constexpr std::uint64_t kMaxRcBytes = 1 << 20;

}  // namespace

std::optional<std::string> normalisedAbsolutePath(std::string_view path) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::string out;
  while (!path.empty()) {
    const std::size_t start = path.find_first_not_of('/');
    if (start == std::string_view::npos) break;
    path.remove_prefix(start);
    const std::string_view part = path.substr(0, path.find('/'));
    if (part == "." || part == "..") return std::nullopt;
    out += '/';
    out += part;
    path.remove_prefix(part.size());
  }
  return out.empty() ? std::string("/") : out;
}

std::optional<std::string> digikamRootFolder(std::string_view identifier, std::string_view specificPath,
                                             const VolumeLookup& volumes) {
  std::optional<std::string> base;
  if (auto uuid = queryValue(identifier, "uuid"); uuid && volumes.mountOfUuid) base = volumes.mountOfUuid(*uuid);
  if (auto label = queryValue(identifier, "label"); !base && label && volumes.mountOfLabel) {
    base = volumes.mountOfLabel(*label);
  }
  if (!base) base = queryValue(identifier, "path");
  if (!base) base = queryValue(identifier, "mountpath");
  if (!base) return std::nullopt;
  return normalisedAbsolutePath(*base + "/" + std::string(specificPath));
}

std::optional<std::string> mountPointIn(const std::vector<Mount>& mounts, dev_t device, std::string_view devicePath) {
  const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  const Mount* first = nullptr;
  for (const Mount& mount : mounts) {
    if (mount.device != number && mount.source != devicePath) continue;
    if (mount.root == "/") return mount.mountPoint;
    if (first == nullptr) first = &mount;
  }
  if (first == nullptr) return std::nullopt;
  return first->mountPoint;
}

VolumeLookup systemVolumes() {
  return {[](const std::string& uuid) -> std::optional<std::string> {
            // FAT and NTFS volumes have their UUIDs in capitals, ext4 and
            // others in small letters; digiKam may have recorded either.
            std::string lower = uuid, upper = uuid;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (const std::string& value : {uuid, lower, upper}) {
              if (auto mount = mountOfTag("UUID", value)) return mount;
            }
            return std::nullopt;
          },
          [](const std::string& label) { return mountOfTag("LABEL", label); }};
}

std::optional<std::string> digikamDatabaseFolder(std::string_view rc, std::string_view home) {
  bool inGroup = false;
  std::optional<std::string> name, type;
  while (!rc.empty()) {
    const std::size_t end = rc.find('\n');
    const std::string_view line = trimmed(rc.substr(0, end));
    rc = end == std::string_view::npos ? std::string_view() : rc.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line.starts_with("[Database Settings]");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inGroup || equals == std::string_view::npos) continue;
    std::string_view key = trimmed(line.substr(0, equals));
    const bool expand = key.ends_with("[$e]");
    if (expand) key = trimmed(key.substr(0, key.size() - 4));
    std::string value = rcUnescaped(trimmed(line.substr(equals + 1)));
    if (expand) value = expanded(std::move(value), home);
    if (key == "Database Name") name = std::move(value);
    if (key == "Database Type") type = std::move(value);
  }
  if (type && !type->empty() && *type != "QSQLITE") return std::nullopt;
  return name;
}

std::optional<std::string> digikamDatabase() {
  const std::string home = homeFolder();
  const std::string candidates[] = {xdgFolder("XDG_CONFIG_HOME", ".config") + "/digikamrc",
                                    home + "/.var/app/org.kde.digikam/config/digikamrc"};
  for (const std::string& rc : candidates) {
    Result<std::string> text = readRegularFile(rc, kMaxRcBytes);
    if (!text) continue;
    std::optional<std::string> folder = digikamDatabaseFolder(*text, home);
    if (!folder) continue;
    while (folder->size() > 1 && folder->ends_with('/')) folder->pop_back();
    if (folder->empty() || folder->front() != '/') continue;
    std::string database = *folder + (folder->ends_with('/') ? "" : "/") + "digikam4.db";
    if (fileExists(database)) return database;
  }
  return std::nullopt;
}

}  // namespace tolvek::managers
