#pragma once
// The files a photo manager's database names, looked up as a walk of the
// file system's root would find them: each is stat'ed (its folders through
// links, as the manager does; a file that is itself a link is not taken, as
// the helper would not read it), never opened. statManagerFiles runs on the
// calling thread and one thread of its own, which it joins before it
// returns; the folders it opens are closed on every path.
#include <optional>
#include <string>
#include <vector>

#include "platform/managers/manager_catalog.h"
#include "platform/sources/source_walk.h"

namespace tolvek {

// The path of a manager's file as a source's relative path: absolute without
// its leading "/", empty components ("//") merged away; "" when it is not
// absolute or has a "." or ".." component or a NUL byte (which no file has
// and a damaged database might hold).
std::string managerRelativePath(const std::string& path);

// Each of `assets` as found now (its path relative to "/"), in their order;
// nothing for a file that is missing, not a regular file, or whose path is
// not one managerRelativePath takes.
std::vector<std::optional<WalkedFile>> statManagerFiles(const std::vector<ManagerAsset>& assets);

}  // namespace tolvek
