// watch --install and --uninstall, run as the real tool in a scratch home:
// the unit it writes when no installation ships one (for this run's library,
// with a word on a tool in a build folder), the installed unit it uses
// instead wherever systemd would find it, and the one command it prints.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::readFileBytes;
using testing::ScratchLibrary;
using testing::writeFileBytes;

constexpr char kName[] = "tolvek-photos-watch.service";
constexpr char kEnable[] = "systemctl --user enable --now tolvek-photos-watch.service\n";
constexpr char kDisable[] = "systemctl --user disable --now tolvek-photos-watch.service\n";

class ToolUserUnit : public ::testing::Test {
 protected:
  void SetUp() override {
    // An installation on this machine would be found before the scratch one.
    for (const char* folder : {"/usr/local/lib/systemd/user/", "/usr/lib/systemd/user/"}) {
      if (std::filesystem::exists(std::string(folder) + kName)) {
        GTEST_SKIP() << "this machine has an installed " << folder << kName;
      }
    }
  }
  // The tool with the XDG data folders inside the scratch home.
  testing::ProcessResult tool(const std::vector<std::string>& arguments, const std::string& executable = {}) {
    auto options = home.toolOptions();
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return testing::runProcess(executable.empty() ? home.toolPath() : executable, arguments, options);
  }
  // Places a unit where an installation puts it, below the scratch root.
  std::string installAt(const std::string& folder) {
    const std::string path = home.root() + folder + "/" + kName;
    std::filesystem::create_directories(home.root() + folder);
    EXPECT_TRUE(writeFileBytes(path, "[Service]\nExecStart=/usr/bin/tolvek-photos-library watch\n"));
    return path;
  }
  std::string ownUnit() const { return home.environment().configHome() + "/systemd/user/" + kName; }

  ScratchLibrary home;
  testing::Environment environment{{"XDG_DATA_DIRS", home.root() + "/usr/local/share:" + home.root() + "/usr/share/"}};
};

TEST_F(ToolUserUnit, WritesTheUnitForThisLibraryWhenNoneIsInstalled) {
  // A data home whose path needs quoting: a space and a specifier sign.
  environment.emplace_back("XDG_DATA_HOME", home.root() + "/my data 100%");
  const auto installed = tool({"watch", "--install"});
  ASSERT_EQ(installed.exitStatus, 0) << installed.err;
  EXPECT_EQ(installed.out, kEnable);
  const std::string text = readFileBytes(ownUnit()).value_or("");
  const std::string self = std::filesystem::canonical(home.toolPath()).string();
  EXPECT_NE(text.find("\nExecStart=\"" + self + "\" watch\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nEnvironment=\"XDG_DATA_HOME=" + home.root() + "/my data 100%%\" \"XDG_CONFIG_HOME=" +
                      home.environment().configHome() + "\"\n"),
            std::string::npos)
      << text;
  for (const char* line : {"\nNice=19\n", "\nIOSchedulingClass=idle\n", "\nRestart=on-failure\n",
                           "\nWantedBy=default.target\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  }
  EXPECT_EQ(text.find('@'), std::string::npos) << text;
  // The tests' tool lies in the build folder: the service dies with it.
  EXPECT_NE(installed.err.find("in a build folder and stops working when that folder goes"), std::string::npos)
      << installed.err;
  if (::access("/usr/bin/systemd-analyze", X_OK) == 0) {
    const auto verified = testing::runProcess("/usr/bin/systemd-analyze", {"verify", ownUnit()}, home.options());
    EXPECT_EQ(verified.exitStatus, 0) << verified.out << verified.err;
  } else {
    std::printf("systemd-analyze is not installed: the unit is not verified\n");
  }
  // Written again: the manager has to reload it.
  EXPECT_EQ(tool({"watch", "--install"}).out.find("systemctl --user daemon-reload && "), 0u);

  const auto removed = tool({"watch", "--uninstall"});
  EXPECT_EQ(removed.exitStatus, 0);
  EXPECT_EQ(removed.out, "");
  EXPECT_FALSE(std::filesystem::exists(ownUnit()));
  const auto none = tool({"watch", "--uninstall"});
  EXPECT_EQ(none.exitStatus, 0);
  EXPECT_NE(none.err.find("no service installed"), std::string::npos) << none.err;

  // Enabled: removing it says how to disable it.
  ASSERT_EQ(tool({"watch", "--install"}).exitStatus, 0);
  const std::string wants = home.environment().configHome() + "/systemd/user/default.target.wants";
  std::filesystem::create_directories(wants);
  std::filesystem::create_symlink(ownUnit(), wants + "/" + kName);
  EXPECT_EQ(tool({"watch", "--uninstall"}).out, kDisable);
  EXPECT_EQ(tool({"watch", "--install", "--uninstall"}).exitStatus, 2);
}

TEST_F(ToolUserUnit, AToolOutsideABuildFolderWritesWithoutAWord) {
  const std::string copy = home.folder("opt/bin") + "/tolvek-photos-library";
  std::filesystem::copy_file(home.toolPath(), copy);
  const auto installed = tool({"watch", "--install"}, copy);
  ASSERT_EQ(installed.exitStatus, 0) << installed.err;
  EXPECT_EQ(installed.out, kEnable);
  EXPECT_EQ(installed.err.find("build folder"), std::string::npos) << installed.err;
  EXPECT_NE(readFileBytes(ownUnit()).value_or("").find("\nExecStart=\"" + copy + "\" watch\n"), std::string::npos);
}

// Where an installation put the unit (below the scratch root), and whether
// this run's library is the default one that unit serves.
struct InstalledCase {
  const char* folder;
  bool defaultLibrary;
};

class InstalledUnit : public ToolUserUnit, public ::testing::WithParamInterface<InstalledCase> {};

TEST_P(InstalledUnit, IsUsedAndNothingIsWritten) {
  const auto& [folder, defaultLibrary] = GetParam();
  const std::string installed = installAt(folder);
  // The scratch data home is not the default one; HOME's .local/share is.
  if (defaultLibrary) environment.emplace_back("XDG_DATA_HOME", home.home() + "/.local/share");

  const auto result = tool({"watch", "--install"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, kEnable);
  EXPECT_FALSE(std::filesystem::exists(ownUnit()));
  EXPECT_NE(result.err.find("found the installed service " + installed + "; nothing written"), std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("serves the default library") != std::string::npos, !defaultLibrary) << result.err;
  EXPECT_EQ(result.err.find("build folder"), std::string::npos) << result.err;

  // --uninstall leaves it; an enabled one is turned off by the command printed.
  const auto kept = tool({"watch", "--uninstall"});
  EXPECT_EQ(kept.exitStatus, 0);
  EXPECT_EQ(kept.out, "");
  EXPECT_NE(kept.err.find("belongs to the installation and stays"), std::string::npos) << kept.err;
  EXPECT_TRUE(std::filesystem::exists(installed));
  const std::string wants = home.environment().configHome() + "/systemd/user/default.target.wants";
  std::filesystem::create_directories(wants);
  std::filesystem::create_symlink(installed, wants + "/" + kName);
  EXPECT_EQ(tool({"watch", "--uninstall"}).out, kDisable);
  EXPECT_TRUE(std::filesystem::exists(installed));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstalledUnit,
    ::testing::Values(InstalledCase{"/home/.local/share/systemd/user", true},
                      InstalledCase{"/usr/local/share/systemd/user", false},
                      InstalledCase{"/usr/share/systemd/user", true}, InstalledCase{"/usr/share/systemd/user", false}));

TEST_F(ToolUserUnit, AnEarlierUnitOfItsOwnIsNamedBesideTheInstalledOne) {
  ASSERT_EQ(tool({"watch", "--install"}).exitStatus, 0);
  const std::string installed = installAt("/usr/share/systemd/user");
  const std::string before = readFileBytes(ownUnit()).value_or("");
  const auto again = tool({"watch", "--install"});
  EXPECT_EQ(again.out, kEnable);
  EXPECT_NE(again.err.find(ownUnit() + ", written by an earlier watch --install, takes its place"), std::string::npos)
      << again.err;
  EXPECT_EQ(readFileBytes(ownUnit()).value_or(""), before);

  const auto removed = tool({"watch", "--uninstall"});
  EXPECT_FALSE(std::filesystem::exists(ownUnit()));
  EXPECT_NE(removed.err.find("the installed " + installed + " takes its place"), std::string::npos) << removed.err;
}

}  // namespace
}  // namespace tolvek
