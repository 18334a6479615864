#include "platform/media/capped_exiv_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <exiv2/error.hpp>

namespace tolvek::media {
namespace {

// The memory of the last copy this thread's readers gave back.
struct KeptCopy {
  std::unique_ptr<Exiv2::byte[]> bytes;
  std::uint64_t capacity = 0;
};
thread_local KeptCopy keptCopy;

}  // namespace

CappedExivIo::CappedExivIo(const ReadableFile& file, std::uint64_t cap)
    : file_(file), size_(cap < file.size() ? cap : file.size()) {}

CappedExivIo::~CappedExivIo() { munmap(); }

int CappedExivIo::open() {
  position_ = 0;
  eof_ = false;
  error_ = false;
  return 0;
}

int CappedExivIo::close() { return munmap(); }

long CappedExivIo::write(const Exiv2::byte*, long) { return 0; }
long CappedExivIo::write(Exiv2::BasicIo&) { return 0; }
int CappedExivIo::putb(Exiv2::byte) { return EOF; }
void CappedExivIo::transfer(Exiv2::BasicIo&) { throw Exiv2::Error(Exiv2::kerFunctionNotSupported, "transfer"); }

Exiv2::DataBuf CappedExivIo::read(long count) {
  if (count <= 0) return Exiv2::DataBuf();
  const std::uint64_t left = position_ < size_ ? size_ - position_ : 0;
  // Never allocate more than the file can still give.
  const auto wanted = static_cast<long>(static_cast<std::uint64_t>(count) < left ? count : left);
  Exiv2::DataBuf buffer(wanted);
  const long got = read(buffer.pData_, wanted);
  if (got < wanted) buffer.size_ = got < 0 ? 0 : got;
  return buffer;
}

long CappedExivIo::read(Exiv2::byte* buffer, long count) {
  if (count <= 0) return 0;
  long done = 0;
  while (done < count) {
    if (position_ >= size_) {
      eof_ = true;
      break;
    }
    const std::uint64_t left = size_ - position_;
    const auto want = static_cast<std::size_t>(static_cast<std::uint64_t>(count - done) < left ? count - done : left);
    const ssize_t got = ::pread(file_.fd(), buffer + done, want, static_cast<off_t>(position_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // The file is shorter than it was when opened: it ends here.
      if (got < 0) error_ = true;
      eof_ = true;
      size_ = position_;
      break;
    }
    done += got;
    position_ += static_cast<std::uint64_t>(got);
  }
  return done;
}

int CappedExivIo::getb() {
  Exiv2::byte b = 0;
  return read(&b, 1) == 1 ? b : EOF;
}

int CappedExivIo::seek(long offset, Position position) {
  std::int64_t base = 0;
  if (position == cur) base = static_cast<std::int64_t>(position_);
  if (position == end) base = static_cast<std::int64_t>(size_);
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return 1;
  const auto target = static_cast<std::uint64_t>(base + offset);
  // As a file allows: seeking past the end is no error, reading there is.
  if (target > size_) return 1;
  position_ = target;
  eof_ = false;
  return 0;
}

Exiv2::byte* CappedExivIo::mmap(bool writeable) {
  if (writeable || size_ > kMaxMappedBytes) throw Exiv2::Error(Exiv2::kerCallFailed, path(), "mmap", "too large");
  if (!mapped_ || mappedSize_ != size_) {
    munmap();
    if (keptCopy.bytes && keptCopy.capacity >= size_) {
      mapped_ = std::move(keptCopy.bytes);
      mappedCapacity_ = keptCopy.capacity;
      keptCopy.capacity = 0;
    } else {
      mapped_ = std::make_unique_for_overwrite<Exiv2::byte[]>(size_ > 0 ? size_ : 1);
      mappedCapacity_ = size_ > 0 ? size_ : 1;
    }
    mappedSize_ = size_;
    const std::uint64_t at = position_;
    position_ = 0;
    const long got = read(mapped_.get(), static_cast<long>(mappedSize_));
    position_ = at;
    if (got < 0) throw Exiv2::Error(Exiv2::kerCallFailed, path(), "mmap", "read");
    // What a shrunken file no longer has is zero, within the size told.
    std::memset(mapped_.get() + got, 0, mappedSize_ - static_cast<std::uint64_t>(got));
  }
  return mapped_.get();
}

int CappedExivIo::munmap() {
  // Kept for the thread's next copy when it is no larger than allowed and
  // larger than what the thread keeps already.
  if (mapped_ && mappedCapacity_ <= kReusedCopyBytes && mappedCapacity_ > keptCopy.capacity) {
    keptCopy.bytes = std::move(mapped_);
    keptCopy.capacity = mappedCapacity_;
  }
  mapped_.reset();
  mappedSize_ = 0;
  mappedCapacity_ = 0;
  return 0;
}

long CappedExivIo::tell() const { return static_cast<long>(position_); }
std::size_t CappedExivIo::size() const { return static_cast<std::size_t>(size_); }
bool CappedExivIo::isopen() const { return true; }
int CappedExivIo::error() const { return error_ ? 1 : 0; }
bool CappedExivIo::eof() const { return eof_; }
std::string CappedExivIo::path() const { return "opened file"; }

}  // namespace tolvek::media
