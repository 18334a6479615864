#pragma once
// An Application that records every call in order and answers with documents
// that name the call, so dispatch tests see what was called with what.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/application.h"

namespace tolvek::testing {

struct RecordedCall {
  std::string name;  // "ensureAccess", "cmdAlbums", "cmdList", "cmdThumbs", "cmdExport"
  std::string text;  // albumId or dir
  std::int64_t number = 0;  // limit or size
  std::vector<std::string> ids;

  bool operator==(const RecordedCall&) const = default;
};

class RecordingApplication final : public Application {
 public:
  explicit RecordingApplication(bool grantAccess = true) : grantAccess_(grantAccess) {}

  bool ensureAccess() override {
    calls.push_back({"ensureAccess", "", 0, {}});
    return grantAccess_;
  }
  Document cmdAlbums() override {
    calls.push_back({"cmdAlbums", "", 0, {}});
    return {{"albums", Document::array()}};
  }
  Document cmdList(const std::string& albumId, std::int64_t limit) override {
    calls.push_back({"cmdList", albumId, limit, {}});
    return {{"items", Document::array()}, {"albumId", albumId}, {"limit", limit}};
  }
  Document cmdThumbs(std::int64_t size, const std::vector<std::string>& ids) override {
    calls.push_back({"cmdThumbs", "", size, ids});
    return {{"thumbs", Document::object()}, {"size", size}, {"ids", ids}};
  }
  Document cmdExport(const std::string& dir, const std::vector<std::string>& ids) override {
    calls.push_back({"cmdExport", dir, 0, ids});
    return {{"files", Document::array()}, {"errors", Document::array()}, {"dir", dir}, {"ids", ids}};
  }

  std::vector<RecordedCall> calls;

 private:
  bool grantAccess_;
};

}  // namespace tolvek::testing
