#include "platform/catalog/catalog_identifiers.h"

#include <glib.h>

#include "platform/system/hex_digits.h"

namespace tolvek {
namespace {

std::string upperCaseUuid() {
  gchar* uuid = g_uuid_string_random();
  gchar* upper = g_ascii_strup(uuid, -1);
  std::string result(upper);
  g_free(upper);
  g_free(uuid);
  return result;
}

// A name-based collection identifier: the first 16 bytes of SHA-256 over
// both names with a NUL between them, with the version and variant bits of
// RFC 4122's name-based form.
std::string nameBasedIdentifier(const std::string& first, const std::string& second) {
  GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA256);
  g_checksum_update(checksum, reinterpret_cast<const guchar*>(first.data()), static_cast<gssize>(first.size()));
  static constexpr guchar kSeparator[1] = {0};
  g_checksum_update(checksum, kSeparator, 1);
  g_checksum_update(checksum, reinterpret_cast<const guchar*>(second.data()), static_cast<gssize>(second.size()));
  guint8 digest[32];
  gsize length = sizeof digest;
  g_checksum_get_digest(checksum, digest, &length);
  g_checksum_free(checksum);
  digest[6] = static_cast<guint8>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<guint8>((digest[8] & 0x3F) | 0x80);
  std::string uuid;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) uuid += '-';
    appendHexByte(uuid, digest[i], HexLetters::upper);
  }
  return uuid + "/L0/040";
}

}  // namespace

std::string newAssetIdentifier() { return upperCaseUuid() + "/L0/001"; }
std::string newCollectionIdentifier() { return upperCaseUuid() + "/L0/040"; }

std::string echoedIdentifier(std::string_view identifier) {
  if (identifier.size() <= kEchoedIdentifierBytes) return std::string(identifier);
  std::size_t cut = kEchoedIdentifierBytes;
  // Back to the first byte of a UTF-8 sequence (continuation bytes are 10xxxxxx).
  while (cut > 0 && (static_cast<unsigned char>(identifier[cut]) & 0xC0) == 0x80) --cut;
  return std::string(identifier.substr(0, cut)) + "\xE2\x80\xA6 (" + std::to_string(identifier.size()) + " bytes)";
}

// The same as a source's own folder's album always had. Albums of folders
// below a source that older versions named by the source's path and the
// path below it keep those identifiers: their folder rows link them.
std::string folderCollectionIdentifier(const std::string& folder) { return nameBasedIdentifier(folder, ""); }

// Never a folder's: a key is never empty.
std::string sourceCollectionIdentifier(const std::string& databasePath, const std::string& key) {
  return nameBasedIdentifier(databasePath, key);
}

}  // namespace tolvek
