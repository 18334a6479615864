#include "commands/export_command.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "commands/export_naming.h"
#include "commands/jpeg_data.h"
#include "commands/json_writer.h"
#include "library/asset_queries.h"
#include "library/run_loop_wait.h"
#include "library/utf8_text.h"

namespace tolvek {
namespace {

// Shared by the command and a resource write's completion, which keeps its
// own reference: a completion that comes after the wait has given up writes
// into live memory that nobody reads any more.
struct VideoWriteState {
  std::optional<std::string> error;
  // Set, with release ordering, only after `error` is stored.
  std::atomic<bool> done{false};
};

class Export {
 public:
  Export(Services& services, std::string directory) : services_(services), directory_(std::move(directory)) {}

  void add(const Asset& asset) {
    // Errors carry the name as the library gave it; files are named after
    // the cleaned one.
    const std::string assetFileName = originalName(services_.library, asset);
    const std::string cleaned = cleanedFileName(assetFileName, asset.mediaType);
    if (asset.mediaType == MediaType::video) {
      addVideo(asset, assetFileName, cleaned);
    } else {
      addPicture(asset, assetFileName, cleaned);
    }
  }

  // Nothing is written for `asset`: one error with `reason`.
  void refuse(const Asset& asset, const std::string& reason) {
    errors_.push_back(originalName(services_.library, asset) + ": " + reason);
  }

  ResultDocument document() const {
    // Keys in byte order, as documents have always had them.
    JsonWriter out;
    out.beginObject().key("errors").beginArray();
    for (const std::string& error : errors_) out.string(error);
    out.endArray().key("files").beginArray();
    for (const auto& [identifier, path] : files_) {
      out.beginObject().key("id").string(identifier).key("path").string(path).endObject();
    }
    out.endArray().endObject();
    return std::move(out).finish();
  }

 private:
  void addPicture(const Asset& asset, const std::string& assetFileName, const std::string& cleaned) {
    ImageRequestOptions options;
    options.networkAccessAllowed = true;
    // Synchronous: the handler has stored both slots when the call returns.
    std::optional<std::string> data;
    std::optional<std::string> typeIdentifier;
    services_.library.imageManager().requestImageDataAndOrientation(
        asset, options, [&](std::optional<std::string> deliveredData, std::optional<std::string> deliveredType) {
          data = std::move(deliveredData);
          typeIdentifier = std::move(deliveredType);
        });
    if (!data) {
      errors_.push_back(assetFileName + ": Photos could not hand over the picture");
      return;
    }

    std::string proposed = cleaned;
    std::optional<std::string> jpeg;
    if (needsJpegConversion(typeIdentifier, cleaned)) {
      // A picture that does not decode or encode is written as delivered.
      if (const std::unique_ptr<Picture> picture = services_.pictures.decode(*data)) {
        jpeg = jpegData(*picture, kConversionQuality, JpegMetadata::keepCaptureData);
        if (jpeg) proposed = convertedFileName(cleaned);
      }
    }
    const std::string path = appendingPathComponent(directory_, names_.unique(proposed));
    if (const Status written = services_.files.replaceFile(path, jpeg ? *jpeg : *data); !written) {
      errors_.push_back(assetFileName + ": " + written.message());
      return;
    }
    addFile(asset, path);
  }

  void addVideo(const Asset& asset, const std::string& assetFileName, const std::string& cleaned) {
    const std::vector<AssetResource> resources = services_.library.assetResources(asset);
    if (resources.empty()) {
      errors_.push_back(assetFileName + ": no video file in Photos");
      return;
    }
    const auto video = std::find_if(resources.begin(), resources.end(),
                                    [](const AssetResource& resource) { return resource.type == ResourceType::video; });
    const AssetResource& chosen = video != resources.end() ? *video : resources.front();
    // The name stays reserved whatever the write does.
    const std::string path = appendingPathComponent(directory_, names_.unique(cleaned));

    auto state = std::make_shared<VideoWriteState>();
    ResourceRequestOptions options;
    options.networkAccessAllowed = true;
    ResourceManager& writer = services_.library.resourceManager();
    const ResourceManager::RequestId request = writer.writeDataForAssetResource(
        chosen, path, options, [state](Status written) {
          if (!written) state->error = written.message();
          state->done.store(true, std::memory_order_release);
        });
    wait([&state] { return state->done.load(std::memory_order_acquire); }, kVideoWriteTimeoutSeconds,
         services_.mainLoop, services_.clock);

    if (!state->done.load(std::memory_order_acquire)) {
      // Cancelled, so nothing of it stays in the folder; its late completion
      // writes into `state`, which nobody reads any more.
      writer.cancelDataRequest(request);
      errors_.push_back(assetFileName + ": did not finish downloading from iCloud in 10 minutes");
    } else if (state->error) {
      errors_.push_back(assetFileName + ": " + *state->error);
    } else {
      addFile(asset, path);
    }
  }

  void addFile(const Asset& asset, const std::string& path) { files_.emplace_back(asset.localIdentifier, path); }

  Services& services_;
  const std::string directory_;
  UniqueFileNames names_;
  std::vector<std::pair<std::string, std::string>> files_;  // identifier, path
  std::vector<std::string> errors_;
};

}  // namespace

ResultDocument cmdExport(Services& services, const std::string& dir, const std::vector<std::string>& ids) {
  const std::string directory = absolutePath(dir, services.files.currentDirectory());
  // Arguments are decoded, but the working directory's name may be any
  // bytes. A file whose path the document cannot report is not written.
  const bool reportable = isValidUtf8(directory);
  // A failure shows in each write that follows.
  if (reportable) (void)services.files.createDirectories(directory);
  Export run(services, directory);
  for (const Asset& asset : assetsWithIds(services.library, ids)) {
    if (reportable) {
      run.add(asset);
    } else {
      run.refuse(asset, "the folder's path is not valid UTF-8");
    }
  }
  return run.document();
}

}  // namespace tolvek
