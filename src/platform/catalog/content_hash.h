#pragma once
// The one content hash of the library: SHA-256, written as 64 lower-case hex
// digits. The catalog records it with each original's size, so a copy
// fetched from elsewhere can be told from the original.
#include <cstdint>
#include <optional>
#include <string>

#include "library/status.h"
#include "platform/posix/posix_file.h"

namespace tolvek {

struct ContentDigest {
  std::uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};

// The size and hash of the first `file.size()` bytes of `file` (a file that
// shrinks while it is read fails: its digest would describe no version of it).
Result<ContentDigest> digestOf(const ReadableFile& file);
// The same, writing every byte read also to the open file `copy`, so that a
// copy and its digest come from one read.
Result<ContentDigest> copyWithDigest(const ReadableFile& file, int copy);
// The same for the regular file at `path`.
Result<ContentDigest> digestOfFile(const std::string& path);

// What a downloaded or copied original must match: its recorded size and,
// when recorded, its hash. Nothing recorded matches anything but an empty file.
struct ExpectedContent {
  std::optional<std::uint64_t> size;
  std::string sha256;  // empty: not recorded
};

inline constexpr char kNotTheOriginal[] = "The downloaded file is not the original";

// Ok when the regular file at `path` has the expected content, else
// kNotTheOriginal (or why it could not be read).
Status checkContent(const std::string& path, const ExpectedContent& expected);

}  // namespace tolvek
