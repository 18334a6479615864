// This build installed with `cmake --install`: into a scratch prefix (as a
// user's ~/.local) and, through DESTDIR, into /usr (as the package is made).
// Each puts the programs, the modules and the user unit where they belong,
// with no run path and no test executable; the unit names the tool of the
// prefix given at install time; the installed programs load their modules
// from the prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ProcessResult;
using testing::readFileBytes;
using testing::ScratchLibrary;

const std::string kBuildFolder = std::filesystem::path(TOLVEK_BIN_DIR).parent_path().string();

// `cmake --install` of this build to `prefix`, below `destdir` when given.
ProcessResult installBuild(const ScratchLibrary& scratch, const std::string& prefix, const std::string& destdir = {}) {
  testing::RunOptions options = scratch.options(destdir.empty() ? testing::Environment{}
                                                                : testing::Environment{{"DESTDIR", destdir}});
  options.timeout = std::chrono::minutes(5);
  return testing::runProcess("/usr/bin/env", {"cmake", "--install", kBuildFolder, "--prefix", prefix}, options);
}

// The paths from which a loader trace (LD_DEBUG=files) shows `file` mapped:
// its "generating link map" lines (a path tried in vain has none), with
// "dir/.." steps resolved.
std::vector<std::string> mappedFrom(const std::string& trace, const std::string& file) {
  std::vector<std::string> paths;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("file=");
    const std::size_t end = line.find(" [");
    if (at == std::string::npos || end == std::string::npos || end < at) continue;
    const std::string path = line.substr(at + 5, end - at - 5);
    if (line.ends_with("generating link map") && path.ends_with("/" + file)) {
      paths.push_back(std::filesystem::path(path).lexically_normal().string());
    }
  }
  return paths;
}

struct Layout {
  const char* prefix;    // below the scratch root, or "/usr" with DESTDIR
  const char* unitFolder;  // relative to the prefix
};

class InstallLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(InstallLayout, PutsEachFileWhereItBelongs) {
  const ScratchLibrary scratch;
  const auto& [where, unitFolder] = GetParam();
  const bool system = std::string(where) == "/usr";
  const std::string destdir = system ? scratch.root() + "/root" : "";
  const std::string prefix = system ? where : scratch.root() + where;
  const ProcessResult installed = installBuild(scratch, prefix, destdir);
  ASSERT_EQ(installed.exitStatus, 0) << installed.out << installed.err;
  const std::filesystem::path top = destdir + prefix;

  std::vector<std::string> programs;
  for (const auto& entry : std::filesystem::directory_iterator(top / "bin")) programs.push_back(entry.path().filename());
  std::sort(programs.begin(), programs.end());
  EXPECT_EQ(programs, (std::vector<std::string>{"tolvek-photos", "tolvek-photos-library"}));
  for (const char* module : {"libtolvek_media.so", "libtolvek_jpeg.so", "libtolvek_download.so"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(top / "lib/tolvek-photos" / module)) << module;
    EXPECT_FALSE(std::filesystem::exists(top / "bin" / module)) << module;
  }
  const std::string unit = readFileBytes(top / unitFolder / "tolvek-photos-watch.service").value_or("");
  std::string exec = prefix + "/bin/tolvek-photos-library";
  if (!system) exec.replace(exec.find('%'), 1, "%%");
  EXPECT_NE(unit.find("\nExecStart=\"" + exec + "\" watch\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nNice=19\n"), std::string::npos) << unit;
  EXPECT_EQ(unit.find("Environment="), std::string::npos) << unit;
  EXPECT_EQ(unit.find('@'), std::string::npos) << unit;

  if (std::filesystem::exists("/usr/bin/readelf")) {
    for (const char* file : {"bin/tolvek-photos", "bin/tolvek-photos-library", "lib/tolvek-photos/libtolvek_media.so"}) {
      const ProcessResult dynamic = testing::runProcess("/usr/bin/readelf", {"-d", top / file}, scratch.options());
      ASSERT_EQ(dynamic.exitStatus, 0) << dynamic.err;
      EXPECT_EQ(dynamic.out.find("PATH)"), std::string::npos) << file << ": " << dynamic.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Prefixes, InstallLayout,
                         ::testing::Values(Layout{"/home/my local 100%", "share/systemd/user"},
                                           Layout{"/usr", "lib/systemd/user"}));

TEST(InstalledPrograms, LoadTheirModulesFromThePrefix) {
  ScratchLibrary scratch;
  const std::string prefix = scratch.root() + "/prefix";
  ASSERT_EQ(installBuild(scratch, prefix).exitStatus, 0);
  const std::string modules = prefix + "/lib/tolvek-photos/";
  const std::string picture = scratch.picture("large.jpg", "jpeg", {.width = 800, .height = 600});

  // The tool examines the picture with the media module.
  testing::RunOptions toolOptions = scratch.toolOptions();
  toolOptions.environment.emplace_back("LD_DEBUG", "files");
  const ProcessResult imported = testing::runProcess(prefix + "/bin/tolvek-photos-library", {"import", picture}, toolOptions);
  ASSERT_EQ(imported.exitStatus, 0) << imported.err.substr(imported.err.size() - std::min<std::size_t>(imported.err.size(), 2000));
  EXPECT_EQ(mappedFrom(imported.err, "libtolvek_media.so"), std::vector<std::string>{modules + "libtolvek_media.so"});
  const auto lines = testing::importedLines(imported.out);
  ASSERT_EQ(lines.size(), 1u) << imported.out;
  scratch.grantAccess();

  // The helper shrinks a stored derivative with the JPEG module.
  const ProcessResult thumbs = testing::runProcess(prefix + "/bin/tolvek-photos", {"thumbs", "64", lines[0].first},
                                                   scratch.options({{"LD_DEBUG", "files"}}));
  ASSERT_EQ(thumbs.exitStatus, 0) << thumbs.out;
  const testing::Json document = testing::Json::parse(thumbs.out, nullptr, false);
  ASSERT_TRUE(document.contains("thumbs")) << thumbs.out;
  EXPECT_TRUE(testing::jpegFromDataUrl(document["thumbs"].value(lines[0].first, "")).has_value()) << thumbs.out;
  EXPECT_EQ(mappedFrom(thumbs.err, "libtolvek_jpeg.so"), std::vector<std::string>{modules + "libtolvek_jpeg.so"});
}

}  // namespace
}  // namespace tolvek
