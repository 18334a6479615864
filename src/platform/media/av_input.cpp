#include "platform/media/av_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tolvek::media {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
constexpr char kAcceptedFormats[] =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,mpeg,flv,asf,mp3,wav,aac,flac,ogg,aiff,caf,w64,amr,dv";

// The reader's own position: the descriptor is read with pread, never past
// the cap, so a file that grows while it is read ends at the cap.
int readPacket(void* opaque, std::uint8_t* buffer, int size) {
  auto* reader = static_cast<AvInput::Reader*>(opaque);
  const std::int64_t want = std::min<std::int64_t>(size, reader->cap - reader->position);
  if (want <= 0) return AVERROR_EOF;
  for (;;) {
    const ssize_t got = ::pread(reader->fd, buffer, static_cast<size_t>(want), reader->position);
    if (got > 0) {
      reader->position += got;
      return static_cast<int>(got);
    }
    if (got == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

std::int64_t seekTo(void* opaque, std::int64_t offset, int whence) {
  auto* reader = static_cast<AvInput::Reader*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return reader->cap;
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = reader->position;
  else if (whence == SEEK_END) base = reader->cap;
  else if (whence != SEEK_SET) return AVERROR(EINVAL);
  const std::int64_t target = base + offset;
  if (target < 0) return AVERROR(EINVAL);
  reader->position = std::min(target, reader->cap);
  return reader->position;
}

int mainStream(AVFormatContext* context, AVMediaType kind) {
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream* stream = context->streams[i];
    if (stream->codecpar->codec_type != kind) continue;
    if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) continue;
    if (kind == AVMEDIA_TYPE_VIDEO && (stream->codecpar->width <= 0 || stream->codecpar->height <= 0)) continue;
    return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::unique_ptr<AvInput> AvInput::open(const std::string& path) {
  auto file = ReadableFile::open(path);
  if (!file) return nullptr;
  return open(*file, 0);
}

std::unique_ptr<AvInput> AvInput::open(const ReadableFile& file, std::uint64_t maxBytes) {
  std::unique_ptr<AvInput> input(new AvInput());
  input->reader_.fd = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
  if (input->reader_.fd < 0) return nullptr;
  input->reader_.cap =
      static_cast<std::int64_t>(maxBytes == 0 || maxBytes > file.size() ? file.size() : maxBytes);
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) return nullptr;
  input->io_ = avio_alloc_context(buffer, kIoBufferSize, 0, &input->reader_, readPacket, nullptr, seekTo);
  if (input->io_ == nullptr) {
    av_free(buffer);
    return nullptr;
  }
  AVFormatContext* context = avformat_alloc_context();
  if (context == nullptr) return nullptr;
  context->pb = input->io_;
  context->flags |= AVFMT_FLAG_CUSTOM_IO;
  context->format_whitelist = av_strdup(kAcceptedFormats);
  context->protocol_whitelist = av_strdup("none");
  // An empty URL: probing looks at the bytes, never at a file name extension.
  if (avformat_open_input(&context, "", nullptr, nullptr) != 0) return nullptr;  // frees context
  input->context_ = context;
  if (avformat_find_stream_info(context, nullptr) < 0) return nullptr;
  return input;
}

AvInput::~AvInput() {
  if (context_ != nullptr) avformat_close_input(&context_);
  if (io_ != nullptr) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  if (reader_.fd >= 0) ::close(reader_.fd);
}

int AvInput::videoStream() const { return mainStream(context_, AVMEDIA_TYPE_VIDEO); }
int AvInput::audioStream() const { return mainStream(context_, AVMEDIA_TYPE_AUDIO); }

}  // namespace tolvek::media
