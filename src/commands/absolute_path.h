#pragma once
// Paths as export reports them: absolute and lexically normalised.
#include <string>

namespace tolvek {

// `path` resolved against `workingDirectory` when relative (an empty path is
// the working directory), with "//" and "." segments removed, ".." resolved
// lexically (symbolic links are not looked at; ".." at the root stays at the
// root) and no trailing "/". Stays relative only when `workingDirectory` is
// not absolute (it could not be determined).
std::string absoluteLexicalPath(const std::string& path, const std::string& workingDirectory);

// `directory` + "/" + `name`, without doubling the root's "/".
std::string appendingPathComponent(const std::string& directory, const std::string& name);

}  // namespace tolvek
