#pragma once
// Paths as export reports them: absolute, naming the file the kernel writes.
#include <string>

namespace tolvek {

// `path` prefixed with `workingDirectory` when relative (an empty path is the
// working directory), with "." segments and repeated and trailing "/"
// removed. ".." segments stay: the kernel resolves them after any symbolic
// link before them, so removing them as text could name another folder.
// Stays relative only when `workingDirectory` is not absolute (it could not
// be determined).
std::string absolutePath(const std::string& path, const std::string& workingDirectory);

// `directory` + "/" + `name`, without doubling the root's "/".
std::string appendingPathComponent(const std::string& directory, const std::string& name);

}  // namespace tolvek
