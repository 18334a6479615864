#pragma once
// LibRaw's input over a regular file already open, read with pread at
// offsets and never past a cap (its size when opened, or a recorded size),
// so LibRaw never opens a file by name and a file that grows or is swapped
// while it is read ends at the cap. Buffered: LibRaw reads many of its
// formats a byte at a time.
#include <libraw/libraw.h>

#include <cstdint>
#include <vector>

namespace tolvek::media {

class CappedRawStream final : public LibRaw_abstract_datastream {
 public:
  // `fd` stays the caller's and must outlive the stream.
  CappedRawStream(int fd, std::uint64_t cap);

  int valid() override { return fd_ >= 0 ? 1 : 0; }
  int read(void* out, size_t size, size_t count) override;
  int seek(INT64 offset, int whence) override;
  INT64 tell() override { return position_; }
  INT64 size() override { return cap_; }
  int get_char() override;
  char* gets(char* out, int size) override;
  int scanf_one(const char* format, void* value) override;
  int eof() override { return position_ >= cap_ ? 1 : 0; }
  void* make_jas_stream() override { return nullptr; }

 private:
  // Makes the buffer hold the bytes at position_; false at the cap or on a
  // read error.
  bool fill();
  std::size_t readAt(char* out, std::size_t length, INT64 at) const;

  int fd_;
  INT64 cap_;
  INT64 position_ = 0;
  std::vector<char> buffer_;
  INT64 bufferStart_ = 0;
  std::size_t bufferLength_ = 0;
};

}  // namespace tolvek::media
