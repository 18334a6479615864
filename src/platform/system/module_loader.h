#pragma once
// Opens one of the project's own shared modules from beside the running
// executable (then from ../lib/tolvek-photos/) and looks up its entry symbol.
#include <string>

namespace tolvek {

// The address of `entrySymbol` in the first module named `fileName` that
// loads and exports it; nullptr when none does. Modules stay loaded for the
// life of the process.
void* openModuleEntry(const std::string& fileName, const char* entrySymbol);

}  // namespace tolvek
