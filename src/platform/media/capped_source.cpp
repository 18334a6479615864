#include "platform/media/capped_source.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tolvek::media {
namespace {

struct SourceState {
  int fd = -1;
  std::int64_t cap = 0;
  std::int64_t position = 0;
};

void freeState(gpointer data) {
  auto* state = static_cast<SourceState*>(data);
  if (state->fd >= 0) ::close(state->fd);
  delete state;
}

gint64 readCapped(VipsSourceCustom*, gpointer buffer, gint64 length, gpointer user) {
  auto* state = static_cast<SourceState*>(user);
  const gint64 want = std::min(length, state->cap - state->position);
  if (want <= 0) return 0;
  for (;;) {
    const ssize_t got = ::pread(state->fd, buffer, static_cast<std::size_t>(want), state->position);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    state->position += got;
    return got;
  }
}

gint64 seekCapped(VipsSourceCustom*, gint64 offset, int whence, gpointer user) {
  auto* state = static_cast<SourceState*>(user);
  gint64 base = 0;
  if (whence == SEEK_CUR) base = state->position;
  if (whence == SEEK_END) base = state->cap;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  const gint64 target = base + offset;
  if (target < 0 || target > state->cap) return -1;
  state->position = target;
  return target;
}

}  // namespace

SourcePtr cappedSource(const ReadableFile& file, std::uint64_t maxBytes) {
  const int fd = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto* state = new SourceState{fd, static_cast<std::int64_t>(capFor(file, maxBytes)), 0};
  VipsSourceCustom* custom = vips_source_custom_new();
  if (custom == nullptr) {
    freeState(state);
    return nullptr;
  }
  // The state goes with the source's last reference, whoever holds it.
  g_object_set_data_full(G_OBJECT(custom), "tolvek-capped-file", state, freeState);
  g_signal_connect(custom, "read", G_CALLBACK(readCapped), state);
  g_signal_connect(custom, "seek", G_CALLBACK(seekCapped), state);
  return SourcePtr(VIPS_SOURCE(custom));
}

}  // namespace tolvek::media
