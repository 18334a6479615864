#pragma once
// Opens one of the project's own shared modules from beside the running
// executable (the build folder), then from the installation's module folder
// relative to it (../lib/tolvek-photos by default), and looks up its entry
// symbol.
// The entry is a C function (the modules' boundary is plain C: see
// modules/picture_entry.h), so no C++ type crosses here either.
#include <string>

namespace tolvek {

// The address of `entrySymbol` in the first module named `fileName` that
// loads and exports it; nullptr when none does. Modules stay loaded for the
// life of the process.
void* openModuleEntry(const std::string& fileName, const char* entrySymbol);

}  // namespace tolvek
