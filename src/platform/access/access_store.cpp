#include "platform/access/access_store.h"

#include <cerrno>
#include <cstdint>

#include "library/utf8_text.h"
#include "platform/access/key_file.h"
#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"

namespace tolvek {
namespace {

constexpr const char* kStatusKey = "status";
constexpr const char* kChosenKey = "chosen";

// Far more than any number of applications' answers needs.
constexpr std::uint64_t kMaxStoreBytes = 64 * 1024;

enum class Load { loaded, missing, garbage };

// Text with NUL bytes or invalid UTF-8 is garbage, as is anything the key
// file format refuses. Only a regular file of at most kMaxStoreBytes is
// read, so a FIFO, a device or an endless file in its place cannot hang or
// flood the run; anything that cannot be read that way is garbage too,
// unless there is nothing at its path.
Load loadKeyFile(const std::string& path, std::optional<KeyFile>& file) {
  const Result<std::string> bytes = readRegularFile(path, kMaxStoreBytes);
  if (!bytes) return bytes.code() == ErrorCode::notFound ? Load::missing : Load::garbage;
  if (isValidUtf8(*bytes)) file = KeyFile::parse(*bytes);
  return file ? Load::loaded : Load::garbage;
}

// A group name the key file can hold, in valid UTF-8; bundle identifiers
// never look otherwise.
bool isUsableGroupName(const std::string& name) { return isValidUtf8(name) && isKeyFileGroupName(name); }

}  // namespace

AccessAnswer AccessStore::read(const std::string& bundleIdentifier) const {
  if (!isUsableGroupName(bundleIdentifier)) return {AuthorizationStatus::denied, {}};
  std::optional<KeyFile> file;
  switch (loadKeyFile(path_, file)) {
    case Load::missing:
      return {};
    case Load::garbage:
      return {AuthorizationStatus::denied, {}};
    case Load::loaded:
      break;
  }
  if (!file->hasGroup(bundleIdentifier)) return {};

  const std::optional<std::string> value = file->value(bundleIdentifier, kStatusKey);
  if (!value) return {AuthorizationStatus::denied, {}};
  static const char* const kKnown[] = {"0", "1", "2", "3", "4"};
  AccessAnswer answer{AuthorizationStatus::denied, {}};
  for (int s = 0; s <= 4; ++s) {
    if (*value == kKnown[s]) answer.status = static_cast<AuthorizationStatus>(s);
  }
  if (answer.status == AuthorizationStatus::limited) {
    // An invalid escape reads as no list at all, as it did with GKeyFile.
    const std::optional<std::string> chosen = file->value(bundleIdentifier, kChosenKey);
    if (chosen) answer.chosenAssets = keyFileList(*chosen).value_or(std::vector<std::string>());
  }
  return answer;
}

Status AccessStore::write(const std::string& bundleIdentifier, const std::optional<AccessAnswer>& answer) {
  if (!isUsableGroupName(bundleIdentifier)) return Status::error("not a bundle identifier: " + bundleIdentifier);
  const std::string_view folder = folderPart(path_);
  if (!makeFolders(folder.empty() ? (path_.starts_with('/') ? "/" : ".") : std::string(folder), 0700)) {
    return Status::error("cannot create the folder of " + path_ + ": " + errorText(errno));
  }

  const Result<FileLock> lock = FileLock::acquire(path_ + ".lock", kWriteLockWait);
  if (!lock) return Status::error("cannot lock " + path_ + ": " + lock.message());
  std::optional<KeyFile> file;
  if (loadKeyFile(path_, file) != Load::loaded) file.emplace();

  file->removeGroup(bundleIdentifier);
  if (answer) {
    file->setValue(bundleIdentifier, kStatusKey, std::to_string(static_cast<std::int64_t>(answer->status)));
    if (answer->status == AuthorizationStatus::limited) {
      file->setValue(bundleIdentifier, kChosenKey, keyFileListValue(answer->chosenAssets));
    }
  }
  // Mode 0666 less the umask, like any new file.
  const Status saved = writeFileAtomically(path_, file->text(), Publish::replace, 0666);
  if (!saved) return Status::error("cannot write " + path_ + ": " + saved.message());
  return {};
}

}  // namespace tolvek
