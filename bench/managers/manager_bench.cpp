// Reads a generated Shotwell database of 100,000 photos (20 tags, 2,000
// events) as a sync does, and compares the time with the sqlite3 shell
// selecting the same rows into /dev/null: the reader's share of a sync's
// budget. Also reports the longest single backup step, the longest time the
// reader holds the database's shared lock (the owner cannot commit then).
//   manager_bench [--photos N] [--runs N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/managers/database_snapshot.h"
#include "platform/managers/manager_catalog.h"
#include "support/manager_fixture.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr char kShell[] = "/usr/bin/sqlite3";
constexpr char kShellSql[] =
    "SELECT id, filename, exposure_time, flags, event_id FROM PhotoTable;"
    "SELECT id, filename, exposure_time, flags, event_id FROM VideoTable;"
    "SELECT id, name FROM EventTable;"
    "SELECT id, name, photo_id_list FROM TagTable;";

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One run of the sqlite3 shell, its output to /dev/null; false on failure.
bool runShell(const std::string& database) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {kShell, "-readonly", database, kShellSql};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, kShell, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int photos = 100000, runs = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--photos") == 0) photos = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  std::string scratch = (std::filesystem::temp_directory_path() / "tolvek-bench-managers-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) return 1;
  const std::string database = scratch + "/photo.db";
  const auto made = Clock::now();
  if (tolvek::Status written = tolvek::testing::writeShotwellBulk(database, {.photos = photos}); !written) {
    std::fprintf(stderr, "%s\n", written.message().c_str());
    return 1;
  }
  std::printf("Shotwell database: %d photos, %ju bytes, made in %.0f ms\n", photos,
              static_cast<std::uintmax_t>(std::filesystem::file_size(database)), Ms(Clock::now() - made).count());

  std::vector<double> reader, snapshot, shell;
  double longestStep = 0;
  int steps = 0;
  std::size_t assets = 0, albums = 0;
  for (int run = -1; run < runs; ++run) {  // run -1 warms the page cache
    auto started = Clock::now();
    const tolvek::Result<tolvek::ManagerCatalog> read = tolvek::readManagerCatalog(tolvek::SourceKind::shotwell, database);
    const double readMs = Ms(Clock::now() - started).count();
    if (!read) {
      std::fprintf(stderr, "%s\n", read.message().c_str());
      return 1;
    }
    assets = read->assets.size();
    albums = read->albums.size();
    tolvek::SnapshotReport report;
    if (!tolvek::snapshotDatabase(database, {}, &report)) return 1;
    started = Clock::now();
    if (!runShell(database)) {
      std::fprintf(stderr, "%s failed\n", kShell);
      return 1;
    }
    const double shellMs = Ms(Clock::now() - started).count();
    if (run < 0) continue;
    reader.push_back(readMs);
    snapshot.push_back(Ms(report.total).count());
    shell.push_back(shellMs);
    longestStep = std::max(longestStep, Ms(report.longestStep).count());
    steps = report.steps;
  }
  const double ratio = median(reader) / median(shell);
  std::printf("read: %zu assets, %zu albums\n", assets, albums);
  std::printf("readManagerCatalog   median %8.1f ms (of which the snapshot %.1f ms, %d steps of %d pages)\n",
              median(reader), median(snapshot), steps, tolvek::kSnapshotPagesPerStep);
  std::printf("sqlite3 shell        median %8.1f ms (%s)\n", median(shell), kShellSql);
  std::printf("\nmedians of %d runs after one warm-up run\n", runs);
  std::printf("%-40s %10s %10s %8s %s\n", "figure", "ours", "anchor", "ratio", "target");
  std::printf("%-40s %7.1f ms %7.1f ms %8.2f <= 1.00 %s\n", "reader vs sqlite3 shell", median(reader), median(shell),
              ratio, ratio <= 1.0 ? "met" : "missed");
  std::printf("%-40s %7.2f ms %10s %8s <= 50 ms %s\n", "longest hold of the lock (one step)", longestStep, "-", "-",
              longestStep <= 50 ? "met" : "missed");
  std::filesystem::remove_all(scratch);
  return 0;
}
