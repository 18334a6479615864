#include "platform/media/raw_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tolvek::media {
namespace {
constexpr std::size_t kBufferBytes = 64 * 1024;
}  // namespace

CappedRawStream::CappedRawStream(int fd, std::uint64_t cap) : fd_(fd), cap_(static_cast<INT64>(cap)) {}

std::size_t CappedRawStream::readAt(char* out, std::size_t length, INT64 at) const {
  if (at >= cap_) return 0;
  length = std::min<std::size_t>(length, static_cast<std::size_t>(cap_ - at));
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd_, out + done, length - done, at + static_cast<INT64>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool CappedRawStream::fill() {
  if (position_ >= bufferStart_ && position_ < bufferStart_ + static_cast<INT64>(bufferLength_)) return true;
  if (position_ < 0 || position_ >= cap_) return false;
  buffer_.resize(kBufferBytes);
  bufferStart_ = position_;
  bufferLength_ = readAt(buffer_.data(), buffer_.size(), position_);
  return bufferLength_ > 0;
}

int CappedRawStream::read(void* out, size_t size, size_t count) {
  if (size == 0 || count == 0) return 0;
  const std::size_t want = size * count;
  auto* target = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < want && position_ < cap_) {
    if (want - done >= kBufferBytes && !fill()) {
      // Large reads go straight to the file.
      const std::size_t got = readAt(target + done, want - done, position_);
      position_ += static_cast<INT64>(got);
      done += got;
      break;
    }
    if (!fill()) break;
    const std::size_t offset = static_cast<std::size_t>(position_ - bufferStart_);
    const std::size_t take = std::min(want - done, bufferLength_ - offset);
    std::memcpy(target + done, buffer_.data() + offset, take);
    position_ += static_cast<INT64>(take);
    done += take;
  }
  return static_cast<int>(done / size);
}

int CappedRawStream::seek(INT64 offset, int whence) {
  INT64 base = 0;
  if (whence == SEEK_CUR) base = position_;
  else if (whence == SEEK_END) base = cap_;
  else if (whence != SEEK_SET) return -1;
  if (offset < 0 && base + offset < 0) return -1;
  position_ = base + offset;
  return 0;
}

int CappedRawStream::get_char() {
  if (!fill()) return -1;
  const auto byte = static_cast<unsigned char>(buffer_[static_cast<std::size_t>(position_ - bufferStart_)]);
  ++position_;
  return byte;
}

char* CappedRawStream::gets(char* out, int size) {
  if (size <= 0) return nullptr;
  int length = 0;
  while (length < size - 1) {
    const int c = get_char();
    if (c < 0) break;
    out[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  out[length] = '\0';
  return length == 0 ? nullptr : out;
}

int CappedRawStream::scanf_one(const char* format, void* value) {
  // LibRaw reads one number ("%d" or "%f") of a text header.
  int c = get_char();
  while (c >= 0 && std::isspace(c)) c = get_char();
  if (c < 0) return EOF;
  char token[64];
  std::size_t length = 0;
  while (c >= 0 && !std::isspace(c) && length + 1 < sizeof token) {
    token[length++] = static_cast<char>(c);
    c = get_char();
  }
  token[length] = '\0';
  return std::sscanf(token, format, value);
}

}  // namespace tolvek::media
