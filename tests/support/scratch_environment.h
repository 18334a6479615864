#pragma once
// The environment of every program a test starts: a scratch HOME with XDG
// folders and a temporary folder of its own, and no graphical session. So no
// child reaches the real user's library, consent answers, caches or screen;
// a test that wants a dialog sets DISPLAY itself, with a stub zenity on PATH.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace tolvek::testing {

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

}  // namespace tolvek::testing
