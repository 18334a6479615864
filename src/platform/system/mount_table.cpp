#include "platform/system/mount_table.h"

#include "platform/posix/posix_file.h"

namespace tolvek {
namespace {

// mountinfo is a few kilobytes; a cap keeps a broken one from costing much.
constexpr std::uint64_t kMaxMountinfoBytes = 4 << 20;

// The escapes of a path field (\040 for a space, \011, \012, \134).
std::string unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int value = 0;
      bool octal = true;
      for (const char c : field.substr(i + 1, 3)) {
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  while (!line.empty()) {
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    const std::size_t end = line.find(' ');
    out.push_back(line.substr(0, end));
    line = end == std::string_view::npos ? std::string_view() : line.substr(end);
  }
  return out;
}

}  // namespace

std::vector<Mount> parseMountTable(std::string_view mountinfo) {
  std::vector<Mount> mounts;
  while (!mountinfo.empty()) {
    const std::size_t end = mountinfo.find('\n');
    const std::vector<std::string_view> f = fields(mountinfo.substr(0, end));
    mountinfo = end == std::string_view::npos ? std::string_view() : mountinfo.substr(end + 1);
    if (f.size() < 5) continue;
    Mount mount{std::string(f[2]), unescaped(f[3]), unescaped(f[4]), {}};
    // The optional fields end at "-", followed by the type and the source.
    for (std::size_t i = 5; i + 2 < f.size(); ++i) {
      if (f[i] == "-") {
        mount.source = unescaped(f[i + 2]);
        break;
      }
    }
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

Result<std::vector<Mount>> readMountTable() {
  Result<ReadableFile> file = ReadableFile::open("/proc/self/mountinfo");
  if (!file) return file.status();
  Result<std::string> text = readUntilEnd(file->fd(), kMaxMountinfoBytes);
  if (!text) return text.status();
  return parseMountTable(*text);
}

std::vector<Mount> mountsWithin(const std::vector<Mount>& mounts, const std::string& folder) {
  std::vector<Mount> within;
  for (const Mount& mount : mounts) {
    const std::string& point = mount.mountPoint;
    const bool below = folder == "/" || point == folder ||
                       (point.size() > folder.size() && point.starts_with(folder) && point[folder.size()] == '/');
    if (below) within.push_back(mount);
  }
  return within;
}

}  // namespace tolvek
