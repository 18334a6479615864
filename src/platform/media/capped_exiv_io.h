#pragma once
// An exiv2 BasicIo over a regular file opened as a ReadableFile, read-only,
// that never reads past a cap (the file's size when it was opened, or less).
// exiv2 then never opens a file by its name: it reads what was opened, and a
// file that grows or is swapped while it is read ends at the cap. Writes
// fail. mmap() hands out a copy of the capped bytes (read once, at most
// kMaxMappedBytes), never a mapping of the file: a file cut short while it
// is read would fault a mapping. The memory of a copy up to kReusedCopyBytes
// is kept by its thread for the next file's: a fresh one would fault in
// every page of a RAW file again, most of the time its metadata takes.
#include <exiv2/basicio.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/posix_file.h"

namespace tolvek::media {

inline constexpr std::uint64_t kMaxMappedBytes = 512ull << 20;
inline constexpr std::uint64_t kReusedCopyBytes = 64ull << 20;

class CappedExivIo final : public Exiv2::BasicIo {
 public:
  // Reads `file` (which must outlive this) up to min(file.size(), cap).
  CappedExivIo(const ReadableFile& file, std::uint64_t cap);
  ~CappedExivIo() override;
  CappedExivIo(const CappedExivIo&) = delete;
  CappedExivIo& operator=(const CappedExivIo&) = delete;

  int open() override;
  int close() override;
  long write(const Exiv2::byte* data, long count) override;
  long write(Exiv2::BasicIo& source) override;
  int putb(Exiv2::byte data) override;
  Exiv2::DataBuf read(long count) override;
  long read(Exiv2::byte* buffer, long count) override;
  int getb() override;
  void transfer(Exiv2::BasicIo& source) override;
  int seek(long offset, Position position) override;
  Exiv2::byte* mmap(bool writeable) override;
  int munmap() override;
  long tell() const override;
  std::size_t size() const override;
  bool isopen() const override;
  int error() const override;
  bool eof() const override;
  std::string path() const override;

 private:
  const ReadableFile& file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  bool eof_ = false;
  bool error_ = false;
  // The copy mmap() hands out: written by the read alone (not cleared
  // first), so the bytes are copied once.
  std::unique_ptr<Exiv2::byte[]> mapped_;
  std::uint64_t mappedSize_ = 0;
  std::uint64_t mappedCapacity_ = 0;
};

}  // namespace tolvek::media
