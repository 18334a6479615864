#pragma once
// Helpers for the tests of the library on disk: a scratch environment set
// in this process (and passed to children), the library tool
// as a process, and fixture media made with vips, heif-enc and ffmpeg.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/library_location.h"
#include "support/process_runner.h"
#include "support/scratch_environment.h"

namespace tolvek::testing {

// A scratch environment (HOME, XDG folders, no graphical session) put into
// this process for the life of the object, so the library in this process
// and every child it or the test starts use it. Dates in tests are read in
// UTC so that capture days do not depend on the machine's zone.
class ScratchHome {
 public:
  ScratchHome() : applied_(scratch_) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  ScratchHome(const ScratchHome&) = delete;
  ScratchHome& operator=(const ScratchHome&) = delete;

  const std::string& root() const { return scratch_.root(); }
  std::string dataHome() const { return scratch_.dataHome(); }
  LibraryLocation location() const { return libraryLocationIn(dataHome()); }
  // A folder for fixture files outside the library.
  std::string folder(const std::string& name) const {
    const std::string path = root() + "/" + name;
    std::filesystem::create_directories(path);
    return path;
  }

 private:
  ScratchEnvironment scratch_;
  ProcessEnvironment applied_;
};

inline std::string toolPath() { return std::string(TOLVEK_BIN_DIR) + "/tolvek-photos-library"; }

// How the tool (or a program that starts it) is run by the tests.
inline RunOptions toolRunOptions(std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  RunOptions options;
  options.timeout = timeout;
  // Under AddressSanitizer, the leak checker's tracer crashes at exit on the
  // media module's worker threads (libvips), which would turn every import
  // into a failure; the tool runs with the leak check off, everything else
  // of the sanitizers on. Without sanitizers the variable means nothing.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.environment = {{"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":detect_leaks=0"}};
  return options;
}

inline ProcessResult runTool(const std::vector<std::string>& arguments,
                             std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
  return runProcess(toolPath(), arguments, toolRunOptions(timeout));
}

// Runs a shell command line; true when it exited with 0.
inline bool shell(const std::string& commandLine) {
  RunOptions options;
  options.timeout = std::chrono::seconds(120);
  const ProcessResult r = runProcess("/bin/sh", {"-c", commandLine}, options);
  const bool ok = r.exited() && r.exitStatus == 0;
  if (!ok) ADD_FAILURE() << commandLine << " failed: " << r.err;
  return ok;
}

inline std::string quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) {
    if (c == '\'') q += "'\\''"; else q += c;
  }
  return q + "'";
}

// Identifier and source path per line of an import's standard output.
inline std::vector<std::pair<std::string, std::string>> importedLines(const std::string& out) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab != std::string::npos) lines.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return lines;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Every path below `folder`, sorted; empty when the folder is absent.
inline std::vector<std::string> treeOf(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) return paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
    paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Fixture media, made with the command-line tools of the project's own
// dependencies. Each returns true when the file was written.
// Parent folders are created; the content is PNG whatever the name says.
inline bool makePng(const std::string& path, int width = 64, int height = 48) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const std::string png = path + ".making.png";
  return shell("vips black " + quoted(png) + " " + std::to_string(width) + " " + std::to_string(height) +
               " --bands 3 >/dev/null 2>&1 && mv " + quoted(png) + " " + quoted(path));
}
inline bool makeHeic(const std::string& path) {
  const std::string png = path + ".source.png";
  return makePng(png, 64, 48) && shell("heif-enc -q 50 -o " + quoted(path) + " " + quoted(png) + " >/dev/null 2>&1") &&
         std::filesystem::remove(png);
}
// A one-second video; with `creationTime` (ISO 8601) in its metadata.
inline bool makeVideo(const std::string& path, const std::string& creationTime = {}) {
  std::string metadata = creationTime.empty() ? "" : " -metadata creation_time=" + creationTime;
  return shell("ffmpeg -v error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=5 -pix_fmt yuv420p" + metadata +
               " " + quoted(path) + " </dev/null");
}
inline bool makeAudio(const std::string& path) {
  return shell("ffmpeg -v error -y -f lavfi -i sine=duration=1 -c:a aac " + quoted(path) + " </dev/null");
}
// Sets the file's modification time (seconds since the epoch).
inline bool setModificationTime(const std::string& path, std::int64_t seconds) {
  return shell("touch -d @" + std::to_string(seconds) + " " + quoted(path));
}

}  // namespace tolvek::testing
