#include "platform/catalog/catalog_identifiers.h"

#include <nettle/sha2.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/system/hex_digits.h"

namespace tolvek {
namespace {

// 16 bytes from the kernel's random source, which blocks only until it is
// seeded at boot.
void randomBytes(std::uint8_t (&bytes)[16]) {
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      std::abort();  // only on a kernel older than 3.17: identifiers must be unique
    }
  }
}

// 16 bytes as an upper-case UUID text, 8-4-4-4-12 hexadecimal digits.
std::string uuidText(const std::uint8_t* bytes) {
  std::string uuid;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) uuid += '-';
    appendHexByte(uuid, bytes[i], HexLetters::upper);
  }
  return uuid;
}

// A random UUID (RFC 4122 version 4), upper case.
std::string upperCaseUuid() {
  std::uint8_t bytes[16];
  randomBytes(bytes);
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  return uuidText(bytes);
}

// A name-based collection identifier: the first 16 bytes of SHA-256 over
// both names with a NUL between them, with the version and variant bits of
// RFC 4122's name-based form.
std::string nameBasedIdentifier(const std::string& first, const std::string& second) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, first.size(), reinterpret_cast<const std::uint8_t*>(first.data()));
  static constexpr std::uint8_t kSeparator[1] = {0};
  sha256_update(&context, 1, kSeparator);
  sha256_update(&context, second.size(), reinterpret_cast<const std::uint8_t*>(second.data()));
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3F) | 0x80);
  return uuidText(digest) + "/L0/040";
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
