#include "support/scratch_environment.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace tolvek::testing {

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
  RunOptions o;
  o.environment = variables();
  o.removed = sessionVariables();
  for (const auto& variable : extra) {
    const auto same = std::find_if(o.environment.begin(), o.environment.end(),
                                   [&variable](const auto& entry) { return entry.first == variable.first; });
    if (same != o.environment.end()) {
      same->second = variable.second;
    } else {
      o.environment.push_back(variable);
    }
  }
  o.workingDirectory = root();
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

}  // namespace tolvek::testing
