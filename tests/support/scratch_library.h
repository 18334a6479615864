#pragma once
// A real photo library in a scratch folder, filled with the built library
// tool, and the built helper run against it as the host runs it. Every child
// runs in the library's scratch environment (its own HOME and XDG folders, no
// graphical session), so nothing ever reaches the real user's library or
// consent answers. Tests that run the platform in this process put the
// environment into the process too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "library/photo_library.h"
#include "platform/access/access_store.h"
#include "platform/system/library_location.h"
#include "support/in_memory_library.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace tolvek::testing {

// The environment of every program a test starts: a scratch HOME with XDG
// folders and a temporary folder of its own, and no graphical session. So no
// child reaches the real user's library, consent answers, caches or screen;
// a test that wants a dialog sets DISPLAY itself, with a stub zenity on PATH.
using Environment = std::vector<std::pair<std::string, std::string>>;

class ScratchEnvironment {
 public:
  // A fresh folder holding home/, data/, config/, cache/, state/, runtime/
  // (mode 0700) and tmp/; removed with the object.
  ScratchEnvironment();

  const std::string& root() const { return root_.path(); }
  std::string home() const { return root() + "/home"; }
  std::string dataHome() const { return root() + "/data"; }
  std::string configHome() const { return root() + "/config"; }
  std::string cacheHome() const { return root() + "/cache"; }
  std::string stateHome() const { return root() + "/state"; }
  std::string runtimeDir() const { return root() + "/runtime"; }
  std::string temporaryDir() const { return root() + "/tmp"; }

  // HOME, the XDG folders and TMPDIR pointing into the scratch folder.
  Environment variables() const;
  // The variables of a graphical or desktop session, removed from every child.
  static const std::vector<std::string>& sessionVariables();

  // Runs a child in this environment plus `extra` (same name: replaced; a
  // session variable in `extra` is set), in `root()` unless changed.
  RunOptions options(const Environment& extra = {}) const;

 private:
  ScratchFolder root_;
};

// Puts a scratch environment into this process while it lives (for tests
// that run the platform in this process and start children that inherit
// it), and restores every variable it changed afterwards.
class ProcessEnvironment {
 public:
  explicit ProcessEnvironment(const ScratchEnvironment& scratch);
  ~ProcessEnvironment();
  ProcessEnvironment(const ProcessEnvironment&) = delete;
  ProcessEnvironment& operator=(const ProcessEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

using Json = nlohmann::json;
class ScratchLibrary {
 public:
  enum class Scope {
    children,  // only the programs the test starts run in the scratch environment
    // this process too, for the life of the object (so the library in this
    // process and every child that inherits it use it); dates are then read
    // in UTC, so that capture days do not depend on the machine's zone
    thisProcess,
  };
  // The built tolvek-photos and tolvek-photos-library of this build.
  explicit ScratchLibrary(Scope scope = Scope::children);
  ScratchLibrary(const ScratchLibrary&) = delete;
  ScratchLibrary& operator=(const ScratchLibrary&) = delete;

  const ScratchEnvironment& environment() const { return environment_; }
  const std::string& root() const { return environment_.root(); }
  std::string home() const { return environment_.home(); }
  std::string dataHome() const { return environment_.dataHome(); }
  // Where the platform puts the library under the scratch data home.
  LibraryLocation location() const { return libraryLocationIn(dataHome()); }
  std::string libraryFolder() const { return location().libraryFolder; }
  std::string accessStorePath() const { return location().accessStorePath; }
  std::string catalogPath() const { return location().catalogPath; }
  // A folder for source files and exports, outside the library.
  std::string work(const std::string& name) const { return environment_.root() + "/work/" + name; }
  // The same folder, created.
  std::string folder(const std::string& name) const;

  // The environment of every child, plus `extra` (same name: replaced).
  RunOptions options(const Environment& extra = {}) const;

  const std::string& toolPath() const { return toolPath_; }
  // How the library tool runs: the leak check off, as the tool loads the
  // media module.
  RunOptions toolOptions(std::chrono::milliseconds timeout = std::chrono::seconds(120)) const;
  // Runs the library tool and gives what it did.
  ProcessResult runTool(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds timeout = std::chrono::seconds(120)) const;
  // Runs the library tool with `input` on its standard input.
  ProcessResult runToolWithInput(const std::vector<std::string>& arguments, const std::string& input) const;
  // Runs the library tool; a failure is a test failure.
  std::string tool(const std::vector<std::string>& arguments) const;
  // Imports the files (one import run) and returns their identifiers in the
  // order given. Files the tool refuses get no identifier (a test failure).
  std::vector<std::string> import(const std::vector<std::string>& paths, const std::vector<std::string>& options = {});
  std::string import(const std::string& path, const std::vector<std::string>& options = {});
  // Imports the files (one import run), each identifier stored where its
  // pair points.
  void importInto(const std::vector<std::pair<std::string*, std::string>>& files,
                  const std::vector<std::string>& options = {});
  // `count` JPEGs pN.jpg, N from 0, captured 2020-01-0(N+1)T10:00:00Z (so
  // oldest first), imported in one run.
  std::vector<std::string> importDatedPictures(int count);
  std::string createAlbum(const std::optional<std::string>& title);
  void addToAlbum(const std::string& album, const std::vector<std::string>& assets);
  void grantAccess() { tool({"access", "grant"}); }

  // Source files for imports, made under work("src"); a file that cannot be
  // made is a test failure. Each gives the file's path.
  std::string picture(const std::string& name, const std::string& format, const PictureFixture& fixture = {}) const;
  std::string video(const std::string& name, const VideoFixture& fixture = {}) const;
  std::string audio(const std::string& name, const std::optional<std::string>& creationTime = std::nullopt) const;
  // `count` copies of one small PNG, work(folder)/pNNNN.png, the i-th
  // modified at `firstTime + i * step` (seconds since the epoch).
  std::vector<std::string> pictureCopies(const std::string& folder, int count, std::int64_t firstTime,
                                         std::int64_t step) const;

  // The library in this process (Scope::thisProcess): the helper's recorded
  // answer set or cleared, and the library as the helper opens it.
  [[nodiscard]] ::testing::AssertionResult recordAnswer(const std::optional<AccessAnswer>& answer) const;
  [[nodiscard]] ::testing::AssertionResult recordAnswer(AuthorizationStatus status) const {
    return recordAnswer(AccessAnswer{status, {}});
  }
  std::unique_ptr<PhotoLibrary> library(const std::string& usage = "usage") const;

  // The library's copy of an asset's original, and its derivatives (found
  // where assetFilePaths puts them).
  std::optional<std::string> originalPath(const std::string& asset) const;
  std::vector<std::string> derivativePaths(const std::string& asset) const;

  ProcessResult helper(const std::vector<std::string>& arguments, const Environment& extra = {},
                       const std::string& workingDirectory = {}) const;
  // Runs the helper and checks what every run promises: it exited by itself
  // with `status`, wrote nothing to standard error, and wrote one JSON object
  // followed by exactly one line feed. Gives the object (null when broken).
  Json run(const std::vector<std::string>& arguments, int status = 0, const Environment& extra = {},
           const std::string& workingDirectory = {}) const;

 private:
  ScratchEnvironment environment_;
  std::optional<ProcessEnvironment> applied_;
  std::string helperPath_;
  std::string toolPath_;
};

// The base of a suite whose tests share one library, built once for the
// suite (tool runs are slow): `Library` holds a ScratchLibrary and what the
// tests use, and fills both in its build().
template <class Library>
class SharedLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib_ = new Library;
    lib_->build();
  }
  static void TearDownTestSuite() {
    delete lib_;
    lib_ = nullptr;
  }
  static inline Library* lib_ = nullptr;
};

// Identifier and source path per line of an import's standard output.
std::vector<std::pair<std::string, std::string>> importedLines(const std::string& out);

// One line of what add and sync print: change, asset identifier, path.
struct SyncLine {
  std::string change;
  std::string identifier;
  std::string path;
  bool operator==(const SyncLine&) const = default;
};
inline void PrintTo(const SyncLine& line, std::ostream* os) {
  *os << line.change << " " << line.identifier << " " << line.path;
}
std::vector<SyncLine> syncLines(const std::string& out);

// The identifiers of a list document's items, in order; a document without
// an items array is a test failure.
std::vector<std::string> itemIds(const Json& document);

// Identifiers as the helper takes them: one argument, joined with commas.
std::string joinIds(const std::vector<std::string>& ids);

// The checks of ScratchLibrary::run, on any result.
Json expectOneDocument(const ProcessResult& result, int status);

// The bytes of a "data:image/jpeg;base64," URL; nothing when the prefix is
// wrong or the Base64 is not canonical padded standard Base64 on one line.
std::optional<std::string> bytesFromDataUrl(const std::string& url);
// Those bytes, when they also start and end as a JPEG stream.
std::optional<std::string> jpegFromDataUrl(const std::string& url);

// The SQLite shell on the scratch catalog (read-write): the statements, the
// output lines; nothing when the shell fails.
std::optional<std::vector<std::string>> sqliteQuery(const std::string& catalog, const std::string& sql);
bool haveSqliteShell();

// ASAN_OPTIONS as this process has them, with the leak checker off: its
// tracer crashes at exit in runs that start the media module's threads
// (libvips). Every child that renders or imports gets it; everything else of
// the sanitizers stays on. Without sanitizers the variable means nothing.
std::pair<std::string, std::string> withoutLeakCheck();

}  // namespace tolvek::testing
