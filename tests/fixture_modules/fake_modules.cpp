// libtolvek_fake_modules.so: the media, JPEG and download entries over fake
// implementations, exported through the modules' own shims, so that the
// boundary's tests drive the real front ends and shims with inputs that fail,
// throw or carry large buffers. The input names the behaviour:
//   "throw..."    the implementation throws
//   "none"        it gives nothing
//   other bytes   echoed: the picture's JPEG is the bytes it was made from
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "platform/modules/download_export.h"
#include "platform/modules/jpeg_export.h"
#include "platform/modules/media_export.h"
#include "platform/modules/remote_download.h"
#include "platform/posix/posix_file.h"

namespace tolvek::fakes {
namespace {

bool throws(std::string_view input) { return input.starts_with("throw"); }

class EchoBitmap final : public Bitmap {
 public:
  explicit EchoBitmap(std::string bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::string> jpegRepresentation(double, JpegMetadata metadata) const override {
    if (bytes_ == "throw-jpeg") throw 42;  // not even a std::exception
    if (bytes_ == "no-jpeg") return std::nullopt;
    return metadata == JpegMetadata::keepCaptureData ? "kept:" + bytes_ : bytes_;
  }

 private:
  std::string bytes_;
};

class EchoPicture final : public Picture {
 public:
  EchoPicture(std::string bytes, PixelSize size) : bytes_(std::move(bytes)), size_(size) {}
  PixelSize size() const override { return size_; }
  std::unique_ptr<Bitmap> bitmap() const override {
    if (bytes_ == "throw-bitmap") throw std::runtime_error("no bitmap");
    if (bytes_ == "no-bitmap") return nullptr;
    return std::make_unique<EchoBitmap>(bytes_);
  }

 private:
  std::string bytes_;
  PixelSize size_;
};

std::unique_ptr<Picture> echo(std::string_view bytes, PixelSize size) {
  if (throws(bytes) && !bytes.ends_with("-jpeg") && !bytes.ends_with("-bitmap")) throw std::runtime_error("fake");
  if (bytes == "none") return nullptr;
  return std::make_unique<EchoPicture>(std::string(bytes), size);
}

class FakeDecoder final : public PictureDecoder {
 public:
  std::unique_ptr<Picture> decode(std::string_view data) override {
    return echo(data, {static_cast<std::int64_t>(data.size()), 7});
  }
};

class FakeMedia final : public MediaModule {
 public:
  PictureDecoder& pictureDecoder() override { return decoder_; }
  // Its JPEG tells the arguments that arrived.
  std::unique_ptr<Picture> renderFile(const std::string& path, std::uint64_t maxBytes, MediaType mediaType,
                                      PixelSize target, std::optional<PixelSize> original) override {
    if (throws(path)) throw std::runtime_error("fake");
    const std::string from = original ? std::to_string(original->width) + "x" + std::to_string(original->height) : "-";
    return echo(path + "|" + std::to_string(maxBytes) + "|" + std::to_string(static_cast<int>(mediaType)) + "|" + from,
                target);
  }
  std::optional<MediaProbe> probe(const std::string& path, const std::string& namedPath) override {
    if (throws(path)) throw std::bad_alloc();
    if (path == "none") return std::nullopt;
    MediaProbe probe{MediaType::video, path, std::nullopt, MediaProbe::DateFrom::content, false, namedPath, {}};
    if (path == "bare") return probe;
    probe.creationDate = -1'234'567'890'123;
    probe.dateFrom = MediaProbe::DateFrom::sidecar;
    probe.rejected = true;
    probe.durationSeconds = 2.5;
    return probe;
  }
  // One derivative per character of `path`, the optional values on every
  // second one.
  std::vector<StoredDerivative> makeDerivatives(const std::string& path, MediaType mediaType,
                                                const std::string& pathPrefix) override {
    if (throws(path)) throw std::runtime_error("fake");
    std::vector<StoredDerivative> made;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const auto n = static_cast<std::int64_t>(i) + static_cast<int>(mediaType);
      StoredDerivative d;
      d.path = pathPrefix + std::to_string(i);
      d.width = n;
      d.height = n + 1;
      if (i % 2 == 1) {
        d.bytes = 5'000'000'000ULL + i;
        d.quality = static_cast<int>(i);
        d.originalSize = PixelSize{n * 10, n * 20};
      }
      made.push_back(std::move(d));
    }
    return made;
  }

 private:
  FakeDecoder decoder_;
};

class FakeJpeg final : public JpegModule {
 public:
  std::unique_ptr<Picture> shrink(std::string_view jpeg, PixelSize size) override { return echo(jpeg, size); }
};

MediaModule* media() {
  static FakeMedia module;
  return &module;
}
JpegModule* jpeg() {
  static FakeJpeg module;
  return &module;
}

// Writes the URL to `fd`; fails as the URL says.
Status download(const std::string& url, int fd, const TolvekDownloadLimits& limits) {
  if (throws(url)) throw std::runtime_error("fake");
  if (url == "cancel") {
    if (limits.cancelled == nullptr) return Status::error("no cancel callback");
    if (limits.cancelled(limits.cancelContext) != 0) return Status::error(kDownloadCancelled, ErrorCode::busy);
    return Status::error("not cancelled");
  }
  // A message longer than the failure holds, with a two-byte character cut
  // by its end: "é" at bytes 1022 and 1023.
  if (url == "long") return Status::error(std::string(1022, 'x') + "\xC3\xA9 and more", ErrorCode::tooLarge);
  const std::string limitsText = std::to_string(limits.connectTimeoutSeconds) + "," +
                                 std::to_string(limits.stallSeconds) + "," +
                                 std::to_string(limits.minimumBytesPerSecond) + "," + std::to_string(limits.maxBytes);
  return writeAll(fd, url + "|" + limitsText);
}

}  // namespace
}  // namespace tolvek::fakes

extern "C" __attribute__((visibility("default"))) const TolvekMediaTable* tolvek_media_module() {
  return tolvek::module_export::mediaTable<tolvek::fakes::media>();
}
extern "C" __attribute__((visibility("default"))) const TolvekJpegTable* tolvek_jpeg_module() {
  return tolvek::module_export::jpegTable<tolvek::fakes::jpeg>();
}
extern "C" __attribute__((visibility("default"))) const TolvekDownloadTable* tolvek_download_module() {
  return tolvek::module_export::downloadTable<tolvek::fakes::download>();
}
