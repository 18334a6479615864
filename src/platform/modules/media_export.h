#pragma once
// The media module's side of its C boundary (media_entry.h): the table of
// entries over one MediaModule of the module's own, which `instance` returns
// (never destroyed). Included only by a module's entry shim.
#include <vector>

#include "platform/modules/media_entry.h"
#include "platform/modules/media_module.h"
#include "platform/modules/picture_export.h"

namespace tolvek::module_export {

// A probe or a list of derivatives handed out: the C view first, the C++
// values its strings point into after it.
struct ProbeHolder : TolvekMediaProbe {
  MediaProbe values;
};
struct DerivativesHolder : TolvekDerivatives {
  std::vector<StoredDerivative> values;
  std::vector<TolvekDerivative> views;
};

inline const TolvekMediaProbe* handOut(MediaProbe probe) {
  auto* held = new ProbeHolder{};
  held->values = std::move(probe);
  const MediaProbe& p = held->values;
  static_cast<TolvekMediaProbe&>(*held) = TolvekMediaProbe{static_cast<int>(p.mediaType),
                                                           p.uniformTypeIdentifier.c_str(),
                                                           p.creationDate.has_value(),
                                                           p.creationDate.value_or(0),
                                                           static_cast<int>(p.dateFrom),
                                                           p.rejected,
                                                           p.contentIdentifier.c_str(),
                                                           p.durationSeconds.has_value(),
                                                           p.durationSeconds.value_or(0.0)};
  return held;
}

inline const TolvekDerivatives* handOut(std::vector<StoredDerivative> derivatives) {
  auto* held = new DerivativesHolder{};
  held->values = std::move(derivatives);
  for (const StoredDerivative& d : held->values) {
    const PixelSize original = d.originalSize.value_or(PixelSize{});
    held->views.push_back(TolvekDerivative{d.path.c_str(), d.width, d.height, d.bytes.has_value(), d.bytes.value_or(0),
                                           d.quality.has_value(), d.quality.value_or(0), d.originalSize.has_value(),
                                           original.width, original.height});
  }
  held->count = held->views.size();
  held->items = held->views.data();
  return held;
}

template <MediaModule* (*instance)()>
const TolvekMediaTable* mediaTable() {
  static const TolvekMediaTable table{
      sizeof(TolvekMediaTable),
      pictureTable(),
      [](const char* data, size_t size) -> TolvekPicture* {
        return guarded<TolvekPicture*>(nullptr, [&] {
          return handOut(instance()->pictureDecoder().decode(std::string_view(data, size)));
        });
      },
      [](const char* path, uint64_t maxBytes, int mediaType, int64_t width, int64_t height, int hasOriginal,
         int64_t originalWidth, int64_t originalHeight) -> TolvekPicture* {
        return guarded<TolvekPicture*>(nullptr, [&] {
          std::optional<PixelSize> original;
          if (hasOriginal != 0) original = PixelSize{originalWidth, originalHeight};
          return handOut(instance()->renderFile(path, maxBytes, static_cast<MediaType>(mediaType),
                                                PixelSize{width, height}, original));
        });
      },
      [](const char* path, const char* namedPath) -> const TolvekMediaProbe* {
        return guarded<const TolvekMediaProbe*>(nullptr, [&]() -> const TolvekMediaProbe* {
          std::optional<MediaProbe> probe = instance()->probe(path, namedPath);
          return probe ? handOut(std::move(*probe)) : nullptr;
        });
      },
      [](const TolvekMediaProbe* probe) { delete static_cast<const ProbeHolder*>(probe); },
      [](const char* path, int mediaType, const char* pathPrefix) -> const TolvekDerivatives* {
        return guarded<const TolvekDerivatives*>(nullptr, [&] {
          return handOut(instance()->makeDerivatives(path, static_cast<MediaType>(mediaType), pathPrefix));
        });
      },
      [](const TolvekDerivatives* derivatives) { delete static_cast<const DerivativesHolder*>(derivatives); },
  };
  return &table;
}

}  // namespace tolvek::module_export
