#pragma once
// The commands of tolvek-photos-library. Each takes the arguments after its
// command word, writes errors on standard error and returns the exit status.
#include <string>
#include <vector>

namespace tolvek::tool {

using Arguments = std::vector<std::string>;

int runImport(const Arguments& arguments);
int runAlbum(const Arguments& arguments);
int runAccess(const Arguments& arguments);
int runFavorite(const Arguments& arguments);
int runOffload(const Arguments& arguments);
int runAdd(const Arguments& arguments);
int runSync(const Arguments& arguments);
int runSources(const Arguments& arguments);
int runForget(const Arguments& arguments);

// "tolvek-photos-library: " + message + newline on standard error; returns 1.
int failWith(const std::string& message);

}  // namespace tolvek::tool
