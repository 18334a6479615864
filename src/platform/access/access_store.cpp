#include "platform/access/access_store.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"

namespace tolvek {
namespace {

constexpr const char* kStatusKey = "status";
constexpr const char* kChosenKey = "chosen";

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

// Far more than any number of applications' answers needs.
constexpr std::uint64_t kMaxStoreBytes = 64 * 1024;

enum class Load { loaded, missing, garbage };

// Text with NUL bytes or invalid UTF-8 is garbage even where GKeyFile would
// read past it. Only a regular file of at most kMaxStoreBytes is read, so a
// FIFO, a device or an endless file in its place cannot hang or flood the
// run; anything that cannot be read that way is garbage too, unless there
// is nothing at its path.
Load loadKeyFile(const std::string& path, GKeyFile* file) {
  const Result<std::string> bytes = readRegularFile(path, kMaxStoreBytes);
  if (!bytes) return bytes.code() == ErrorCode::notFound ? Load::missing : Load::garbage;
  const bool loaded = g_utf8_validate(bytes->data(), static_cast<gssize>(bytes->size()), nullptr) &&
                      g_key_file_load_from_data(file, bytes->data(), bytes->size(), G_KEY_FILE_NONE, nullptr);
  return loaded ? Load::loaded : Load::garbage;
}

// GKeyFile complains on standard error about group names it cannot hold;
// bundle identifiers never look like that, so such a name is refused first.
bool isUsableGroupName(const std::string& name) {
  if (name.empty() || !g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == '[' || c == ']') return false;
  }
  return true;
}

}  // namespace

AccessAnswer AccessStore::read(const std::string& bundleIdentifier) const {
  if (!isUsableGroupName(bundleIdentifier)) return {AuthorizationStatus::denied, {}};
  KeyFile file(g_key_file_new());
  switch (loadKeyFile(path_, file.get())) {
    case Load::missing:
      return {};
    case Load::garbage:
      return {AuthorizationStatus::denied, {}};
    case Load::loaded:
      break;
  }
  const char* group = bundleIdentifier.c_str();
  if (!g_key_file_has_group(file.get(), group)) return {};

  GError* error = nullptr;
  gchar* text = g_key_file_get_value(file.get(), group, kStatusKey, &error);
  if (text == nullptr) {
    g_error_free(error);
    return {AuthorizationStatus::denied, {}};
  }
  const std::string value(text);
  g_free(text);
  static const char* const kKnown[] = {"0", "1", "2", "3", "4"};
  AccessAnswer answer{AuthorizationStatus::denied, {}};
  for (int s = 0; s <= 4; ++s) {
    if (value == kKnown[s]) answer.status = static_cast<AuthorizationStatus>(s);
  }
  if (answer.status == AuthorizationStatus::limited) {
    gsize length = 0;
    gchar** chosen = g_key_file_get_string_list(file.get(), group, kChosenKey, &length, nullptr);
    for (gsize i = 0; chosen != nullptr && i < length; ++i) answer.chosenAssets.emplace_back(chosen[i]);
    g_strfreev(chosen);
  }
  return answer;
}

Status AccessStore::write(const std::string& bundleIdentifier, const std::optional<AccessAnswer>& answer) {
  if (!isUsableGroupName(bundleIdentifier)) return Status::error("not a bundle identifier: " + bundleIdentifier);
  gchar* folder = g_path_get_dirname(path_.c_str());
  const int made = g_mkdir_with_parents(folder, 0700);
  g_free(folder);
  if (made != 0) return Status::error("cannot create the folder of " + path_ + ": " + errorText(errno));

  const Result<FileLock> lock = FileLock::acquire(path_ + ".lock", kWriteLockWait);
  if (!lock) return Status::error("cannot lock " + path_ + ": " + lock.message());
  KeyFile file(g_key_file_new());
  if (loadKeyFile(path_, file.get()) != Load::loaded) file.reset(g_key_file_new());

  const char* group = bundleIdentifier.c_str();
  g_key_file_remove_group(file.get(), group, nullptr);
  if (answer) {
    g_key_file_set_int64(file.get(), group, kStatusKey, static_cast<gint64>(answer->status));
    if (answer->status == AuthorizationStatus::limited) {
      std::vector<const gchar*> list;
      for (const std::string& id : answer->chosenAssets) list.push_back(id.c_str());
      g_key_file_set_string_list(file.get(), group, kChosenKey, list.data(), list.size());
    }
  }
  gsize length = 0;
  const std::unique_ptr<gchar, decltype(&g_free)> data(g_key_file_to_data(file.get(), &length, nullptr), &g_free);
  // Mode 0666 less the umask, like any new file.
  const Status saved = writeFileAtomically(path_, std::string_view(data.get(), length), Publish::replace, 0666);
  if (!saved) return Status::error("cannot write " + path_ + ": " + saved.message());
  return {};
}

}  // namespace tolvek
