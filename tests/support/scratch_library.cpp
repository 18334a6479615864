#include "support/scratch_library.h"

#include <glib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/linux_photo_library.h"

namespace tolvek::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kSqliteShell[] = "/usr/bin/sqlite3";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

}  // namespace

ScratchEnvironment::ScratchEnvironment() {
  for (const std::string& folder : {home(), dataHome(), configHome(), cacheHome(), stateHome(), temporaryDir()}) {
    ::mkdir(folder.c_str(), 0755);
  }
  ::mkdir(runtimeDir().c_str(), 0700);
}

Environment ScratchEnvironment::variables() const {
  return {{"HOME", home()},
          {"XDG_DATA_HOME", dataHome()},
          {"XDG_CONFIG_HOME", configHome()},
          {"XDG_CACHE_HOME", cacheHome()},
          {"XDG_STATE_HOME", stateHome()},
          {"XDG_RUNTIME_DIR", runtimeDir()},
          {"TMPDIR", temporaryDir()}};
}

const std::vector<std::string>& ScratchEnvironment::sessionVariables() {
  static const std::vector<std::string> kNames = {"DISPLAY",    "WAYLAND_DISPLAY",  "WAYLAND_SOCKET",
                                                  "XAUTHORITY", "XDG_SESSION_TYPE", "DBUS_SESSION_BUS_ADDRESS"};
  return kNames;
}

RunOptions ScratchEnvironment::options(const Environment& extra) const {
  RunOptions o{.environment = variables(), .removed = sessionVariables(), .workingDirectory = root()};
  // The child gets the last value of a name, so `extra` replaces the scratch one.
  o.environment.insert(o.environment.end(), extra.begin(), extra.end());
  return o;
}

ProcessEnvironment::ProcessEnvironment(const ScratchEnvironment& scratch) {
  auto save = [this](const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  };
  for (const auto& [name, value] : scratch.variables()) {
    save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  for (const std::string& name : ScratchEnvironment::sessionVariables()) {
    save(name);
    ::unsetenv(name.c_str());
  }
}

ProcessEnvironment::~ProcessEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

ScratchLibrary::ScratchLibrary(Scope scope)
    : helperPath_(TOLVEK_BIN_DIR "/tolvek-photos"), toolPath_(TOLVEK_BIN_DIR "/tolvek-photos-library") {
  std::error_code ignored;
  fs::create_directories(environment_.root() + "/work", ignored);
  if (scope == Scope::thisProcess) {
    applied_.emplace(environment_);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
}

std::string ScratchLibrary::folder(const std::string& name) const {
  const std::string path = work(name);
  fs::create_directories(path);
  return path;
}

RunOptions ScratchLibrary::options(const Environment& extra) const {
  RunOptions o = environment_.options(extra);
  o.workingDirectory = environment_.root() + "/work";
  o.timeout = std::chrono::seconds(120);
  return o;
}

RunOptions ScratchLibrary::toolOptions(std::chrono::milliseconds timeout) const {
  RunOptions o = options({withoutLeakCheck()});
  o.timeout = timeout;
  return o;
}

ProcessResult ScratchLibrary::runTool(const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds timeout) const {
  return runProcess(toolPath_, arguments, toolOptions(timeout));
}

ProcessResult ScratchLibrary::runToolWithInput(const std::vector<std::string>& arguments,
                                               const std::string& input) const {
  RunOptions o = toolOptions();
  o.stdinPath = root() + "/tool-input";
  EXPECT_TRUE(writeFileBytes(o.stdinPath, input));
  return runProcess(toolPath_, arguments, o);
}

std::string ScratchLibrary::tool(const std::vector<std::string>& arguments) const {
  const ProcessResult result = runTool(arguments);
  EXPECT_TRUE(result.exited() && result.exitStatus == 0)
      << "tolvek-photos-library " << (arguments.empty() ? "" : arguments.front()) << " failed with status "
      << result.exitStatus << ": " << result.err;
  return result.out;
}

std::vector<std::string> ScratchLibrary::import(const std::vector<std::string>& paths,
                                                const std::vector<std::string>& options) {
  std::vector<std::string> arguments{"import"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back("--");
  arguments.insert(arguments.end(), paths.begin(), paths.end());
  std::map<std::string, std::string> byPath;
  for (const auto& [identifier, path] : importedLines(tool(arguments))) byPath[path] = identifier;
  std::vector<std::string> identifiers;
  for (const std::string& path : paths) {
    auto found = byPath.find(path);
    EXPECT_NE(found, byPath.end()) << "not imported: " << path;
    identifiers.push_back(found == byPath.end() ? std::string("missing:" + path) : found->second);
  }
  return identifiers;
}

std::string ScratchLibrary::import(const std::string& path, const std::vector<std::string>& options) {
  return import(std::vector<std::string>{path}, options).front();
}

void ScratchLibrary::importInto(const std::vector<std::pair<std::string*, std::string>>& files,
                                const std::vector<std::string>& options) {
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(file.second);
  const std::vector<std::string> identifiers = import(paths, options);
  for (std::size_t i = 0; i < files.size(); ++i) *files[i].first = identifiers[i];
}

std::vector<std::string> ScratchLibrary::importDatedPictures(int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const std::string date = "2020:01:0" + std::to_string(i + 1) + " 10:00:00";
    paths.push_back(
        picture("p" + std::to_string(i) + ".jpg", "jpeg", {.dateTimeOriginal = date, .offsetTimeOriginal = "+00:00"}));
  }
  return import(paths);
}

std::string ScratchLibrary::createAlbum(const std::optional<std::string>& title) {
  std::string out = tool({"album", "create", title ? *title : std::string("--untitled")});
  while (!out.empty() && out.back() == '\n') out.pop_back();
  EXPECT_FALSE(out.empty());
  return out;
}

void ScratchLibrary::addToAlbum(const std::string& album, const std::vector<std::string>& assets) {
  std::vector<std::string> arguments{"album", "add", album};
  arguments.insert(arguments.end(), assets.begin(), assets.end());
  tool(arguments);
}

std::string ScratchLibrary::picture(const std::string& name, const std::string& format,
                                    const PictureFixture& fixture) const {
  const std::string path = work("src/" + name);
  EXPECT_TRUE(writePicture(path, format, fixture)) << "cannot make " << path;
  return path;
}

std::string ScratchLibrary::video(const std::string& name, const VideoFixture& fixture) const {
  const std::string path = work("src/" + name);
  EXPECT_TRUE(writeVideo(path, fixture)) << "cannot make " << path;
  return path;
}

std::string ScratchLibrary::audio(const std::string& name, const std::optional<std::string>& creationTime) const {
  const std::string path = work("src/" + name);
  EXPECT_TRUE(writeAudio(path, "m4a", creationTime)) << "cannot make " << path;
  return path;
}

std::vector<std::string> ScratchLibrary::pictureCopies(const std::string& folder, int count, std::int64_t firstTime,
                                                       std::int64_t step) const {
  const std::string first = work(folder + "/p0000.png");
  EXPECT_TRUE(writePicture(first, "png", {.width = 16, .height = 16}));
  const std::string bytes = readFileBytes(first).value_or("");
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/p%04d.png", i);
    paths.push_back(work(folder + name));
    // Bytes after the end of the PNG make each copy content of its own (the
    // library keeps one asset per content).
    EXPECT_TRUE(writeFileBytes(paths.back(), bytes + name) &&
                setModificationTime(paths.back(), firstTime + i * step));
  }
  return paths;
}

::testing::AssertionResult ScratchLibrary::recordAnswer(const std::optional<AccessAnswer>& answer) const {
  const Status written = AccessStore(accessStorePath()).write(kHelperBundleIdentifier, answer);
  if (!written.ok()) return ::testing::AssertionFailure() << written.message();
  return ::testing::AssertionSuccess();
}

std::unique_ptr<PhotoLibrary> ScratchLibrary::library(const std::string& usage) const {
  return std::make_unique<LinuxPhotoLibrary>(location(), kHelperBundleIdentifier, usage);
}

std::optional<std::string> ScratchLibrary::originalPath(const std::string& asset) const {
  // The copy's extension is the import's choice: the one file of that stem.
  const std::string stem = libraryFolder() + "/" + assetFilePaths(asset).originalStem;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(stem).parent_path(), ec)) {
    if (entry.path().parent_path() / entry.path().stem() == stem) return entry.path().string();
  }
  return std::nullopt;
}

std::vector<std::string> ScratchLibrary::derivativePaths(const std::string& asset) const {
  const std::string prefix = libraryFolder() + "/" + assetFilePaths(asset).derivativePrefix;
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(prefix).parent_path(), ec)) {
    if (entry.path().string().starts_with(prefix)) found.push_back(entry.path().string());
  }
  return found;
}

ProcessResult ScratchLibrary::helper(const std::vector<std::string>& arguments, const Environment& extra,
                                     const std::string& workingDirectory) const {
  Environment environment = extra;
  // Commands that render or convert pictures start the media module's
  // worker threads, on which the leak checker's tracer crashes at exit.
  if (!arguments.empty() && (arguments[0] == "thumbs" || arguments[0] == "export")) {
    environment.push_back(withoutLeakCheck());
  }
  RunOptions o = options(environment);
  if (!workingDirectory.empty()) o.workingDirectory = workingDirectory;
  return runProcess(helperPath_, arguments, o);
}

Json ScratchLibrary::run(const std::vector<std::string>& arguments, int status, const Environment& extra,
                         const std::string& workingDirectory) const {
  return expectOneDocument(helper(arguments, extra, workingDirectory), status);
}

std::vector<SyncLine> syncLines(const std::string& out) {
  std::vector<SyncLine> found;
  for (const std::string& line : lines(out)) {
    const auto first = line.find('\t');
    const auto second = line.find('\t', first == std::string::npos ? first : first + 1);
    if (second == std::string::npos) {
      ADD_FAILURE() << "not a sync line: " << line;
      continue;
    }
    found.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
  }
  return found;
}

std::vector<std::pair<std::string, std::string>> importedLines(const std::string& out) {
  std::vector<std::pair<std::string, std::string>> found;
  for (const std::string& line : lines(out)) {
    const auto tab = line.find('\t');
    if (tab != std::string::npos) found.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return found;
}

std::vector<std::string> itemIds(const Json& document) {
  std::vector<std::string> ids;
  if (!document.is_object() || !document.contains("items") || !document["items"].is_array()) {
    ADD_FAILURE() << "no items array: " << document.dump().substr(0, 300);
    return ids;
  }
  for (const Json& item : document["items"]) ids.push_back(item.value("id", ""));
  return ids;
}

std::string joinIds(const std::vector<std::string>& ids) {
  std::string joined;
  for (const std::string& id : ids) joined += (joined.empty() ? "" : ",") + id;
  return joined;
}

Json expectOneDocument(const ProcessResult& result, int status) {
  EXPECT_TRUE(result.exited()) << "signal " << result.signal << ", timed out " << result.timedOut << ", start error "
                               << result.startError;
  EXPECT_EQ(result.exitStatus, status) << result.out;
  EXPECT_EQ(result.err, "");
  if (result.out.empty() || result.out.back() != '\n') {
    ADD_FAILURE() << "the output does not end in a line feed: " << result.out.substr(0, 300);
    return nullptr;
  }
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << "more than one line feed";
  Json document = Json::parse(result.out.begin(), result.out.end() - 1, nullptr, false);
  if (!document.is_object()) {
    ADD_FAILURE() << "not one JSON object: " << result.out.substr(0, 300);
    return nullptr;
  }
  return document;
}

std::optional<std::string> bytesFromDataUrl(const std::string& url) {
  static const std::string kPrefix = "data:image/jpeg;base64,";
  if (!url.starts_with(kPrefix)) return std::nullopt;
  const std::string text = url.substr(kPrefix.size());
  if (text.size() % 4 != 0) return std::nullopt;
  for (char c : text) {
    if (!g_ascii_isalnum(c) && c != '+' && c != '/' && c != '=') return std::nullopt;
  }
  gsize length = 0;
  guchar* raw = g_base64_decode(text.c_str(), &length);
  std::string bytes(reinterpret_cast<const char*>(raw), length);
  g_free(raw);
  // Canonical: encoding the bytes again gives the same text.
  gchar* again = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  const bool canonical = text == again;
  g_free(again);
  if (!canonical) return std::nullopt;
  return bytes;
}

std::optional<std::string> jpegFromDataUrl(const std::string& url) {
  auto bytes = bytesFromDataUrl(url);
  if (!bytes || bytes->size() < 4 || !bytes->starts_with("\xFF\xD8\xFF") || !bytes->ends_with("\xFF\xD9"))
    return std::nullopt;
  return bytes;
}

bool haveSqliteShell() { return ::access(kSqliteShell, X_OK) == 0; }

std::optional<std::vector<std::string>> sqliteQuery(const std::string& catalog, const std::string& sql) {
  const ProcessResult result = runProcess(kSqliteShell, {"-batch", catalog, sql});
  if (!result.exited() || result.exitStatus != 0) return std::nullopt;
  return lines(result.out);
}

std::pair<std::string, std::string> withoutLeakCheck() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":detect_leaks=0"};
}

}  // namespace tolvek::testing
