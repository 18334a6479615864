#include "platform/media/quiet_start.h"

#include <vips/vips.h>

extern "C" {
#include <libavutil/log.h>
}

#include <malloc.h>

#include <mutex>

namespace tolvek::media {
namespace {

constexpr int kOwnMappingFrom = 1 << 20;

void dropLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void silenceGlibDomains() {
  // libvips logs through GLib under these domains; libheif is reached only
  // through libvips and reports through it. GLib's own warnings go too.
  const auto everything =
      static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
  for (const char* domain : {"VIPS", "GLib", "GLib-GObject", "GModule", "GLib-GIO", "heif", "libheif"}) {
    g_log_set_handler(domain, everything, dropLog, nullptr);
  }
  g_log_set_default_handler(dropLog, nullptr);
}

}  // namespace

bool startMediaLibraries() {
  static bool started = false;
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_QUIET);
    silenceGlibDomains();
    if (VIPS_INIT("tolvek-photos") != 0) {
      vips_error_clear();
      return;
    }
    // Loaders of formats the library never holds (ImageMagick, PDF, SVG,
    // matrix files...) are refused: less code exposed to hostile input.
    vips_block_untrusted_set(TRUE);
    // The helper renders a handful of pictures per run; the operation cache
    // would only hold memory.
    vips_cache_set_max(0);
    vips_concurrency_set(2);
    // Full-size pixel buffers are mapped and unmapped on their own, so what
    // one picture used goes back to the system before the next: glibc would
    // otherwise raise its mapping threshold after the first freed buffer and
    // keep every later one in its arenas, growing with each picture.
    mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
    started = true;
  });
  return started;
}

}  // namespace tolvek::media
