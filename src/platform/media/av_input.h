#pragma once
// FFmpeg demuxing of a file by its content only: the file name never takes
// part in format probing, and only container formats of audio and video are
// accepted (no playlists, no image sequences, nothing that opens other files).
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tolvek::media {

class AvInput {
 public:
  // Nothing when the file cannot be opened or holds no accepted format.
  static std::unique_ptr<AvInput> open(const std::string& path);
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
  int fd_ = -1;
  AVIOContext* io_ = nullptr;
  AVFormatContext* context_ = nullptr;
};

}  // namespace tolvek::media
