#include "platform/catalog/content_hash.h"

#include <nettle/sha2.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/system/hex_digits.h"

namespace tolvek {

Result<ContentDigest> digestOf(const ReadableFile& file) { return copyWithDigest(file, -1); }

Result<ContentDigest> copyWithDigest(const ReadableFile& file, int copy) {
  sha256_ctx checksum;
  sha256_init(&checksum);
  // Below the media module's own-mapping threshold (1 MB), so the buffer
  // comes from the heap and is reused rather than mapped anew for each file.
  std::string buffer(std::size_t{256} << 10, '\0');
  std::uint64_t done = 0;
  while (done < file.size()) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - done));
    const ssize_t got = ::pread(file.fd(), buffer.data(), want, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errorStatus(errno);
    if (got == 0) return Status::error("The file became shorter while it was read");
    sha256_update(&checksum, static_cast<std::size_t>(got), reinterpret_cast<const std::uint8_t*>(buffer.data()));
    if (copy >= 0) {
      if (Status written = writeAll(copy, std::string_view(buffer.data(), static_cast<std::size_t>(got))); !written) {
        return written;
      }
    }
    done += static_cast<std::uint64_t>(got);
  }
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&checksum, sizeof digest, digest);
  std::string hex;
  for (const std::uint8_t byte : digest) appendHexByte(hex, byte);
  return ContentDigest{done, hex};
}

Result<ContentDigest> digestOfFile(const std::string& path) {
  auto file = ReadableFile::open(path);
  if (!file) return file.status();
  return digestOf(*file);
}

Status checkContent(const std::string& path, const ExpectedContent& expected) {
  auto file = ReadableFile::open(path);
  if (!file) return file.status();
  // An original is never empty: an empty body is an error page's stand-in.
  if (file->size() == 0) return Status::error(kNotTheOriginal);
  if (expected.size && file->size() != *expected.size) return Status::error(kNotTheOriginal);
  if (expected.sha256.empty()) return {};
  auto digest = digestOf(*file);
  if (!digest) return digest.status();
  if (digest->sha256 != expected.sha256) return Status::error(kNotTheOriginal);
  return {};
}

}  // namespace tolvek
