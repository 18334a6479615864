#include "platform/media/video_frame.h"

#include <cmath>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/media/av_input.h"
#include "platform/media/vips_picture.h"

namespace tolvek::media {
namespace {

// Packets read before giving up on a first frame (streams that start with
// undecodable data still yield one within a few hundred).
constexpr int kMaxPackets = 2000;

struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Degrees to turn the stored frame clockwise so it shows upright.
int clockwiseTurn(const AVStream* stream) {
  const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double counterClockwise = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
  if (std::isnan(counterClockwise)) return 0;
  int turn = static_cast<int>(std::lround(-counterClockwise / 90.0)) * 90;
  turn %= 360;
  if (turn < 0) turn += 360;
  return turn;
}

std::unique_ptr<AVFrame, FrameFree> decodeFirstFrame(AVFormatContext* format, int streamIndex,
                                                    AVCodecContext* codec) {
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  if (!packet || !frame) return nullptr;
  bool draining = false;
  for (int packets = 0; packets < kMaxPackets;) {
    const int received = avcodec_receive_frame(codec, frame.get());
    if (received == 0) return frame;
    if (received == AVERROR_EOF) return nullptr;
    if (received != AVERROR(EAGAIN)) return nullptr;
    if (draining) return nullptr;
    const int read = av_read_frame(format, packet.get());
    if (read < 0) {
      avcodec_send_packet(codec, nullptr);
      draining = true;
      continue;
    }
    if (packet->stream_index == streamIndex) {
      ++packets;
      const int sent = avcodec_send_packet(codec, packet.get());
      if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
        av_packet_unref(packet.get());
        return nullptr;
      }
    }
    av_packet_unref(packet.get());
  }
  return nullptr;
}

}  // namespace

ImagePtr firstVideoFrame(const ReadableFile& file, std::uint64_t maxBytes) {
  const auto input = AvInput::open(file, maxBytes);
  if (!input) return nullptr;
  const int streamIndex = input->videoStream();
  if (streamIndex < 0) return nullptr;
  AVStream* stream = input->context()->streams[streamIndex];
  const std::int64_t declared = static_cast<std::int64_t>(stream->codecpar->width) * stream->codecpar->height;
  if (declared <= 0 || declared > kMaxPicturePixels) return nullptr;
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr) return nullptr;
  std::unique_ptr<AVCodecContext, CodecFree> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return nullptr;
  codec->thread_count = 1;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;
  // Only the video stream's packets matter.
  for (unsigned i = 0; i < input->context()->nb_streams; ++i)
    if (static_cast<int>(i) != streamIndex) input->context()->streams[i]->discard = AVDISCARD_ALL;

  const auto frame = decodeFirstFrame(input->context(), streamIndex, codec.get());
  if (!frame || frame->width <= 0 || frame->height <= 0) return nullptr;
  const std::int64_t pixels = static_cast<std::int64_t>(frame->width) * frame->height;
  if (pixels > kMaxPicturePixels) return nullptr;

  SwsContext* scaler = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                      frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr,
                                      nullptr, nullptr);
  if (scaler == nullptr) return nullptr;
  const int stride = frame->width * 3;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(stride) * static_cast<std::size_t>(frame->height));
  std::uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {stride, 0, 0, 0};
  const int rows = sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
  sws_freeContext(scaler);
  if (rows != frame->height) return nullptr;

  ImagePtr image(vips_image_new_from_memory_copy(rgb.data(), rgb.size(), frame->width, frame->height, 3,
                                                 VIPS_FORMAT_UCHAR));
  if (!image) {
    clearVipsError();
    return nullptr;
  }
  image->Type = VIPS_INTERPRETATION_sRGB;
  const int turn = clockwiseTurn(stream);
  if (turn != 0) {
    const VipsAngle angle = turn == 90 ? VIPS_ANGLE_D90 : turn == 180 ? VIPS_ANGLE_D180 : VIPS_ANGLE_D270;
    VipsImage* turned = nullptr;
    if (vips_rot(image.get(), &turned, angle, nullptr) != 0) {
      clearVipsError();
      return nullptr;
    }
    image.reset(turned);
    VipsImage* memory = vips_image_copy_memory(image.get());
    if (memory == nullptr) {
      clearVipsError();
      return nullptr;
    }
    image.reset(memory);
  }
  return image;
}

}  // namespace tolvek::media
