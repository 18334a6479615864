#include "platform/system/glib_main_loop.h"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace tolvek {
namespace {

// Longest slice: the timeout source counts in milliseconds as a guint.
constexpr double kMaxSliceSeconds = 24.0 * 3600.0;

gboolean endSlice(gpointer) { return G_SOURCE_REMOVE; }

}  // namespace

void GLibMainLoop::runFor(double seconds) {
  GMainContext* context = g_main_context_default();
  if (!(seconds > 0)) {
    g_main_context_iteration(context, FALSE);
    return;
  }
  const double bounded = std::min(seconds, kMaxSliceSeconds);
  GSource* timer = g_timeout_source_new(static_cast<guint>(std::ceil(bounded * 1000.0)));
  g_source_set_callback(timer, endSlice, nullptr, nullptr);
  g_source_attach(timer, context);
  // One iteration: it returns after the first poll that saw an event, the
  // timer, or a wakeup from another thread.
  g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
}

void wakeMainLoop() { g_main_context_wakeup(g_main_context_default()); }

}  // namespace tolvek
