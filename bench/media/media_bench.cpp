// Times the media side of the library in one process, the way the helper and
// the library tool use it:
//   media_bench import PHOTOS_DIR WORK_DIR   probe + derivatives per photo
//   media_bench thumbs PHOTOS_DIR WORK_DIR   240-pixel requests + JPEG at 0.8
//                                            (derivatives from a previous import)
//   media_bench write SOURCE DESTINATION     one resource write, waited for
//   media_bench peak FILE                    one 240-pixel render, peak memory
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/helper/linux_image_manager.h"
#include "platform/helper/linux_resource_manager.h"
#include "platform/modules/media_module.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> photosIn(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string derivativePrefix(const std::string& work, const std::string& photo) {
  return work + "/" + std::filesystem::path(photo).filename().string();
}

class BenchIndex final : public tolvek::StoredAssetIndex {
 public:
  std::map<std::int64_t, tolvek::StoredAsset> assets;
  std::optional<tolvek::StoredAsset> storedAsset(std::int64_t handle) override {
    const auto it = assets.find(handle);
    if (it == assets.end()) return std::nullopt;
    return it->second;
  }
  std::optional<tolvek::StoredOriginal> storedResource(const tolvek::AssetResource& resource) override {
    const auto it = assets.find(resource.handle);
    if (it == assets.end()) return std::nullopt;
    return it->second.original;
  }
};

int importPhotos(const std::string& photos, const std::string& work) {
  tolvek::MediaModule* module = tolvek::loadMediaModule();
  if (module == nullptr) return 1;
  const auto paths = photosIn(photos);
  const auto start = Clock::now();
  std::size_t made = 0;
  std::vector<std::pair<std::string, tolvek::StoredDerivative>> manifest;
  for (const auto& path : paths) {
    const auto probe = module->probe(path);
    if (!probe) continue;
    for (const auto& derivative : module->makeDerivatives(path, probe->mediaType, derivativePrefix(work, path))) {
      manifest.emplace_back(path, derivative);
      ++made;
    }
  }
  const double took = secondsSince(start);
  // What the catalog would record, for the thumbs run.
  FILE* out = std::fopen((work + "/manifest.tsv").c_str(), "w");
  if (out == nullptr) return 1;
  for (const auto& [photo, d] : manifest)
    std::fprintf(out, "%s\t%s\t%lld\t%lld\n", photo.c_str(), d.path.c_str(), static_cast<long long>(d.width),
                 static_cast<long long>(d.height));
  std::fclose(out);
  std::printf("import: %zu photos, %zu derivatives in %.3f s (%.1f photos/s, module load included)\n", paths.size(),
              made, took, static_cast<double>(paths.size()) / took);
  return 0;
}

int thumbs(const std::string& photos, const std::string& work) {
  BenchIndex index;
  std::map<std::string, std::int64_t> handles;
  std::int64_t handle = 0;
  for (const auto& path : photosIn(photos)) {
    handles[path] = ++handle;
    index.assets[handle] = tolvek::StoredAsset{tolvek::MediaType::image, {path, "", "", {}, ""}, {}};
  }
  FILE* in = std::fopen((work + "/manifest.tsv").c_str(), "r");
  if (in == nullptr) return 1;
  char photo[4096], derivative[4096];
  long long width = 0, height = 0;
  while (std::fscanf(in, "%4095[^\t]\t%4095[^\t]\t%lld\t%lld\n", photo, derivative, &width, &height) == 4) {
    if (handles.count(photo) != 0) index.assets[handles[photo]].derivatives.push_back({derivative, width, height, {}});
  }
  std::fclose(in);
  tolvek::LinuxImageManager manager(index);
  const auto start = Clock::now();
  std::size_t bytes = 0, done = 0;
  for (std::int64_t h = 1; h <= handle; ++h) {
    tolvek::Asset asset;
    asset.handle = h;
    asset.mediaType = tolvek::MediaType::image;
    manager.requestImage(asset, {240, 240}, tolvek::ContentMode::aspectFill, {},
                         [&](std::unique_ptr<tolvek::Picture> picture) {
                           if (!picture) return;
                           const auto bitmap = picture->bitmap();
                           if (!bitmap) return;
                           if (const auto jpeg = bitmap->jpegRepresentation(0.8, tolvek::JpegMetadata::none)) {
                             bytes += jpeg->size();
                             ++done;
                           }
                         });
  }
  const double took = secondsSince(start);
  std::printf("thumbs: %zu of %lld thumbnails (%zu bytes of JPEG) in %.3f s (module load included)\n", done,
              static_cast<long long>(handle), bytes, took);
  return done == static_cast<std::size_t>(handle) ? 0 : 1;
}

int writeOne(const std::string& source, const std::string& destination) {
  BenchIndex index;
  index.assets[1] = tolvek::StoredAsset{tolvek::MediaType::video, {source, "", "", {}, ""}, {}};
  tolvek::LinuxResourceManager manager(index);
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  tolvek::Status written;
  tolvek::AssetResource resource;
  resource.handle = 1;
  const auto start = Clock::now();
  manager.writeDataForAssetResource(resource, destination, {}, [&](tolvek::Status status) {
    std::lock_guard<std::mutex> lock(mutex);
    written = std::move(status);
    done = true;
    changed.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return done; });
  std::printf("write: %.3f s%s%s\n", secondsSince(start), written ? "" : ", error: ", written.message().c_str());
  return written ? 0 : 1;
}

int peak(const std::string& file) {
  tolvek::MediaModule* module = tolvek::loadMediaModule();
  if (module == nullptr) return 1;
  const auto picture = module->renderFile(file, 0, tolvek::MediaType::image, {240, 240}, std::nullopt);
  const auto bitmap = picture ? picture->bitmap() : nullptr;
  const auto jpeg = bitmap ? bitmap->jpegRepresentation(0.8, tolvek::JpegMetadata::none) : std::nullopt;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak: %ld MB resident for a %lldx%lld thumbnail\n", usage.ru_maxrss / 1024,
              picture ? static_cast<long long>(picture->size().width) : 0LL,
              picture ? static_cast<long long>(picture->size().height) : 0LL);
  return jpeg ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "import") return importPhotos(args[1], args[2]);
  if (args.size() == 3 && args[0] == "thumbs") return thumbs(args[1], args[2]);
  if (args.size() == 3 && args[0] == "write") return writeOne(args[1], args[2]);
  if (args.size() == 2 && args[0] == "peak") return peak(args[1]);
  std::fprintf(stderr, "usage: media_bench import|thumbs PHOTOS WORK | write SOURCE DEST | peak FILE\n");
  return 2;
}
