#pragma once
// FFmpeg demuxing of a file by its content only: the file name never takes
// part in format probing, and only container formats of audio and video are
// accepted (no playlists, no image sequences, nothing that opens other files).
#include <memory>
#include <cstdint>
#include <string>

#include "platform/posix/posix_file.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tolvek::media {

class AvInput {
 public:
  // The descriptor FFmpeg reads through, with its own position and cap.
  struct Reader {
    int fd = -1;
    std::int64_t cap = 0;
    std::int64_t position = 0;
  };

  // Nothing when the file is not a regular file, cannot be opened or holds
  // no accepted format.
  static std::unique_ptr<AvInput> open(const std::string& path);
  // Reads `file` (a duplicate of its descriptor) no further than `maxBytes`
  // (0: its size when opened).
  static std::unique_ptr<AvInput> open(const ReadableFile& file, std::uint64_t maxBytes);
  ~AvInput();
  AvInput(const AvInput&) = delete;
  AvInput& operator=(const AvInput&) = delete;

  AVFormatContext* context() const { return context_; }
  // Index of the main video stream (cover art excluded), or -1.
  int videoStream() const;
  // Index of the main audio stream, or -1.
  int audioStream() const;

 private:
  AvInput() = default;
  Reader reader_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* context_ = nullptr;
};

}  // namespace tolvek::media
