#include "platform/system/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/posix/path_text.h"

// TOLVEK_MODULE_RELATIVE_DIR: the module folder relative to the executable's
// folder in an installation, from the install folders (cmake/install.cmake).
#ifndef TOLVEK_MODULE_RELATIVE_DIR
#error "TOLVEK_MODULE_RELATIVE_DIR is set by cmake/install.cmake"
#endif

namespace tolvek {
namespace {

std::string executableFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return {};
  path.resize(static_cast<std::size_t>(length));
  return std::string(folderPart(path));
}

}  // namespace

void* openModuleEntry(const std::string& fileName, const char* entrySymbol) {
  const std::string folder = executableFolder();
  if (folder.empty()) return nullptr;
  // Beside it in the build folder, then where the installation puts it.
  for (const std::string& candidate :
       {folder + "/" + fileName, folder + "/" TOLVEK_MODULE_RELATIVE_DIR "/" + fileName}) {
    // Lazy binding: a module may pull in a large stack, and resolving every
    // symbol up front would cost more than a run uses.
    void* handle = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) continue;
    if (void* entry = ::dlsym(handle, entrySymbol)) return entry;
    ::dlclose(handle);  // another library of that name: try the next place
  }
  return nullptr;
}

}  // namespace tolvek
