#include "platform/media/av_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tolvek::media {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
constexpr char kAcceptedFormats[] =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,mpeg,flv,asf,mp3,wav,aac,flac,ogg,aiff,caf,w64,amr";

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
  const int fd = *static_cast<int*>(opaque);
  for (;;) {
    const ssize_t got = ::read(fd, buffer, static_cast<size_t>(size));
    if (got > 0) return static_cast<int>(got);
    if (got == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

std::int64_t seekTo(void* opaque, std::int64_t offset, int whence) {
  const int fd = *static_cast<int*>(opaque);
  if (whence == AVSEEK_SIZE) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return AVERROR(errno);
    return info.st_size;
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
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
  std::unique_ptr<AvInput> input(new AvInput());
  input->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (input->fd_ < 0) return nullptr;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) return nullptr;
  input->io_ = avio_alloc_context(buffer, kIoBufferSize, 0, &input->fd_, readPacket, nullptr, seekTo);
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
  if (fd_ >= 0) ::close(fd_);
}

int AvInput::videoStream() const { return mainStream(context_, AVMEDIA_TYPE_VIDEO); }
int AvInput::audioStream() const { return mainStream(context_, AVMEDIA_TYPE_AUDIO); }

}  // namespace tolvek::media
