#pragma once
// How the tool runs a sync and tells what it did, shared by sync, add and
// watch.
#include <vector>

#include "platform/library_writer.h"

namespace tolvek::tool {

// Syncs `sources` (all when empty), printing one line per changed path on
// standard output (flushed as each commits) and a summary on standard error;
// the exit status. `observer` gives the sync's stop and busy questions; its
// reporting members are the tool's (its `changed` is called after each
// line). `failure`, when given, receives the sync's own failure (the catalog
// could not be written), as distinct from files or sources it could not read.
int syncAndReport(LibraryWriter& library, const std::vector<Source>& sources,
                  SyncObserver observer = {}, Status* failure = nullptr);

}  // namespace tolvek::tool
