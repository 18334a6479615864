#pragma once
// Where a first sync without folders starts: the user's Pictures folder.
#include <optional>
#include <string>

namespace tolvek {

// The XDG user directory PICTURES (from $XDG_CONFIG_HOME/user-dirs.dirs; a
// value equal to the home folder counts as unset), else ~/Pictures; nothing
// when neither is an existing folder.
std::optional<std::string> userPicturesFolder();

}  // namespace tolvek
