#include "platform/media_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/media/media_entry.h"

namespace tolvek {
namespace {

constexpr char kModuleFile[] = "libtolvek_media.so";

std::string executableFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return {};
  path.resize(static_cast<std::size_t>(length));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

MediaModule* openModule() {
  const std::string folder = executableFolder();
  if (folder.empty()) return nullptr;
  for (const std::string& candidate :
       {folder + "/" + kModuleFile, folder + "/../lib/tolvek-photos/" + kModuleFile}) {
    // Lazy binding: the module pulls in the whole image and video stack, and
    // resolving every symbol up front would cost more than a run uses.
    void* handle = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) continue;
    // The module stays loaded for the life of the process.
    auto entry = reinterpret_cast<MediaModuleEntry>(::dlsym(handle, kMediaModuleEntryName));
    if (entry == nullptr) continue;
    if (MediaModule* module = entry()) return module;
  }
  return nullptr;
}

}  // namespace

MediaModule* loadMediaModule() {
  static MediaModule* module = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { module = openModule(); });
  return module;
}

}  // namespace tolvek
