// libtolvek_jpeg.so: JpegModule on libjpeg-turbo, handed over the C boundary
// of jpeg_entry.h. Decoding uses the DCT scaling to the smallest size that
// still covers the target, then an area average takes the pixels to exactly
// the target (less than a halving, so
// every output pixel averages one to four source pixels in part).
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <vector>

#include "platform/modules/jpeg_export.h"
#include "platform/modules/jpeg_module.h"

namespace tolvek {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the call, which then gives nothing.
struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jumpOut(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }
// Warnings are counted (corrupt data libjpeg got past), never printed.
void countWarning(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
}
void quietMessage(j_common_ptr) {}

struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<unsigned char> bytes;
};

// Decodes at the largest eighth-step scale whose size still covers `size`.
// A warning (corrupt data libjpeg could get past) counts as damage.
bool decode(std::string_view jpeg, PixelSize size, Pixels& out) {
  jpeg_decompress_struct info{};
  ErrorJump error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jumpOut;
  error.manager.emit_message = countWarning;
  error.manager.output_message = quietMessage;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
      (info.jpeg_color_space != JCS_GRAYSCALE && info.jpeg_color_space != JCS_YCbCr &&
       info.jpeg_color_space != JCS_RGB) ||
      static_cast<std::int64_t>(info.image_width) < size.width ||
      static_cast<std::int64_t>(info.image_height) < size.height) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = info.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  info.scale_denom = 8;
  info.scale_num = 1;
  for (;;) {
    jpeg_calc_output_dimensions(&info);
    if (static_cast<std::int64_t>(info.output_width) >= size.width &&
        static_cast<std::int64_t>(info.output_height) >= size.height)
      break;
    if (++info.scale_num > 8) break;  // cannot happen: 8/8 is the whole picture
  }
  jpeg_start_decompress(&info);
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.channels = info.output_components;
  out.bytes.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) *
                   static_cast<std::size_t>(out.channels));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.bytes.data() + static_cast<std::size_t>(info.output_scanline) *
                                          static_cast<std::size_t>(out.width * out.channels);
    jpeg_read_scanlines(&info, &row, 1);
  }
  const bool damaged = error.manager.num_warnings > 0;
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return !damaged;
}

// The share of source pixel [i, i + 1) that output pixel `o` covers, over a
// source of `from` pixels mapped onto `to` (from >= to).
struct Span {
  int first;
  std::vector<double> weights;
};

std::vector<Span> spans(int from, int to) {
  std::vector<Span> result(static_cast<std::size_t>(to));
  const double step = static_cast<double>(from) / to;
  for (int o = 0; o < to; ++o) {
    const double start = o * step;
    const double end = start + step;
    Span& span = result[static_cast<std::size_t>(o)];
    span.first = static_cast<int>(start);
    for (int i = span.first; i < from && i < end; ++i) {
      const double covered = std::min<double>(end, i + 1) - std::max<double>(start, i);
      span.weights.push_back(covered / step);
    }
  }
  return result;
}

Pixels areaAverage(const Pixels& source, int width, int height) {
  if (source.width == width && source.height == height) return source;
  Pixels out{width, height, source.channels, {}};
  out.bytes.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                   static_cast<std::size_t>(source.channels));
  const std::vector<Span> columns = spans(source.width, width);
  const std::vector<Span> rows = spans(source.height, height);
  const int channels = source.channels;
  std::vector<double> line(static_cast<std::size_t>(width * channels));
  for (int y = 0; y < height; ++y) {
    std::fill(line.begin(), line.end(), 0.0);
    const Span& row = rows[static_cast<std::size_t>(y)];
    for (std::size_t r = 0; r < row.weights.size(); ++r) {
      const unsigned char* in =
          source.bytes.data() + static_cast<std::size_t>(row.first + static_cast<int>(r)) *
                                    static_cast<std::size_t>(source.width * channels);
      for (int x = 0; x < width; ++x) {
        const Span& column = columns[static_cast<std::size_t>(x)];
        for (std::size_t c = 0; c < column.weights.size(); ++c) {
          const double weight = row.weights[r] * column.weights[c];
          const unsigned char* pixel = in + static_cast<std::size_t>((column.first + static_cast<int>(c)) * channels);
          for (int k = 0; k < channels; ++k) line[static_cast<std::size_t>(x * channels + k)] += weight * pixel[k];
        }
      }
    }
    unsigned char* target = out.bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width * channels);
    for (std::size_t i = 0; i < line.size(); ++i) target[i] = static_cast<unsigned char>(std::min(255.0, line[i] + 0.5));
  }
  return out;
}

std::optional<std::string> encode(const Pixels& pixels, int quality) {
  jpeg_compress_struct info{};
  ErrorJump error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jumpOut;
  error.manager.output_message = quietMessage;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return std::nullopt;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &length);
  info.image_width = static_cast<JDIMENSION>(pixels.width);
  info.image_height = static_cast<JDIMENSION>(pixels.height);
  info.input_components = pixels.channels;
  info.in_color_space = pixels.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(pixels.bytes.data()) +
                   static_cast<std::size_t>(info.next_scanline) * static_cast<std::size_t>(pixels.width * pixels.channels);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(buffer), length);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return bytes;
}

class ShrunkBitmap final : public Bitmap {
 public:
  explicit ShrunkBitmap(std::shared_ptr<const Pixels> pixels) : pixels_(std::move(pixels)) {}
  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata) const override {
    if (!std::isfinite(quality)) quality = 0.8;
    return encode(*pixels_, std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100));
  }

 private:
  std::shared_ptr<const Pixels> pixels_;
};

class ShrunkPicture final : public Picture {
 public:
  explicit ShrunkPicture(std::shared_ptr<const Pixels> pixels) : pixels_(std::move(pixels)) {}
  PixelSize size() const override { return {pixels_->width, pixels_->height}; }
  std::unique_ptr<Bitmap> bitmap() const override { return std::make_unique<ShrunkBitmap>(pixels_); }

 private:
  std::shared_ptr<const Pixels> pixels_;
};

class TurboJpegModule final : public JpegModule {
 public:
  std::unique_ptr<Picture> shrink(std::string_view jpeg, PixelSize size) override {
    if (size.width <= 0 || size.height <= 0) return nullptr;
    Pixels decoded;
    if (!decode(jpeg, size, decoded)) return nullptr;
    return std::make_unique<ShrunkPicture>(std::make_shared<const Pixels>(
        areaAverage(decoded, static_cast<int>(size.width), static_cast<int>(size.height))));
  }
};

}  // namespace

JpegModule* jpegModuleInstance() {
  static TurboJpegModule module;
  return &module;
}

}  // namespace tolvek

// The C boundary of jpeg_entry.h over the module's one TurboJpegModule.
extern "C" __attribute__((visibility("default"))) const TolvekJpegTable* tolvek_jpeg_module() {
  return tolvek::module_export::jpegTable<tolvek::jpegModuleInstance>();
}
