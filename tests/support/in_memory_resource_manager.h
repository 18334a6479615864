#pragma once
// Resource writes of the in-memory library, into an in-memory file system.
// Per asset the write completes before it returns (the default), after a
// delay on the fake clock (during a main-loop slice or from another thread),
// or never; and it succeeds or reports an error. Like the real one it
// refuses to write over an existing file.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library/resource_manager.h"
#include "support/fake_main_loop.h"
#include "support/in_memory_file_system.h"

namespace tolvek {

struct WriteOutcome {
  using When = ::tolvek::When;
  When when = When::beforeReturn;
  // Fake seconds after the write started (duringSlice, fromThread).
  double delay = 0;
  // Reported instead of writing the file.
  std::optional<std::string> error;
};

struct WriteRecord {
  AssetResource resource;
  std::string path;
  ResourceRequestOptions options;
};

class InMemoryResourceManager final : public ResourceManager {
 public:
  // `files` may be null: writes then succeed without leaving a file.
  InMemoryResourceManager(FakeMainLoop& loop, InMemoryFileSystem* files) : loop_(loop), files_(files) {}

  void setContents(std::int64_t resourceHandle, std::string bytes);
  void setOutcome(std::int64_t assetHandle, WriteOutcome outcome);

  // Requests are numbered from 1 in the order of the writes.
  RequestId writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                      const ResourceRequestOptions& options, Completion completion) override;
  // Cancelling changes nothing: a held completion stays held.
  void cancelDataRequest(RequestId) override {}

  std::vector<WriteRecord> writes() const;
  // Completions that were never called (outcome "never").
  std::size_t heldCompletions() const;

 private:
  FakeMainLoop& loop_;
  InMemoryFileSystem* files_;
  mutable std::mutex mutex_;
  std::map<std::int64_t, std::string> contents_;
  std::map<std::int64_t, WriteOutcome> outcomes_;
  std::vector<WriteRecord> writes_;
  std::vector<Completion> held_;
};

}  // namespace tolvek
