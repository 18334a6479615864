#pragma once
// Plain values that the photo library hands out. They are copies: holding one
// keeps nothing of the library alive.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

// Authorization status of an access level, with the numbers the access
// store records.
enum class AuthorizationStatus : std::int64_t {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
  limited = 4,
};

enum class AccessLevel : std::int64_t { addOnly = 1, readWrite = 2 };

// Media types of an asset.
enum class MediaType : std::int64_t { unknown = 0, image = 1, video = 2, audio = 3 };

// Collection types, and the subtype that matches every subtype (subtypes
// are an open set of numbers).
enum class CollectionType : std::int64_t { album = 1, smartAlbum = 2, moment = 3 };
inline constexpr std::int64_t kCollectionSubtypeAny = std::numeric_limits<std::int64_t>::max();

// Resource types.
// As the photo framework numbers them: a pair's other half is a resource of
// the pair's asset (a RAW beside its JPEG an alternate photo, a Live Photo's
// movie its paired video), after the primary photo.
enum class ResourceType : std::int64_t { photo = 1, video = 2, audio = 3, alternatePhoto = 4, pairedVideo = 9 };

// The type of the resource holding the original of an asset of `mediaType`.
constexpr ResourceType resourceTypeOf(MediaType mediaType) {
  return mediaType == MediaType::video   ? ResourceType::video
         : mediaType == MediaType::audio ? ResourceType::audio
                                         : ResourceType::photo;
}

struct Asset {
  std::string localIdentifier;
  MediaType mediaType = MediaType::unknown;
  // Seconds since 1970-01-01T00:00:00Z; absent when the library has no date.
  std::optional<std::int64_t> creationDate;
  // The implementation's own handle for this asset; callers never interpret it.
  std::int64_t handle = 0;
};

struct AssetCollection {
  std::string localIdentifier;
  CollectionType type = CollectionType::album;
  std::int64_t subtype = 0;
  // Absent and empty are different: absent means the collection has no title.
  std::optional<std::string> localizedTitle;
  std::int64_t handle = 0;
};

struct AssetResource {
  ResourceType type = ResourceType::photo;
  std::string originalFilename;  // may be empty
  std::string uniformTypeIdentifier;  // for example "public.heic"; may be empty
  // The implementation's own handles: the owning asset and the resource's place.
  std::int64_t assetHandle = 0;
  std::int64_t handle = 0;
};

// What a fetch selects and how it orders. Only what the program uses.
struct FetchOptions {
  // Media types to keep; empty keeps every media type.
  std::vector<MediaType> mediaTypes;
  // Newest creation date first; assets without a date last; equal dates put
  // the most recently imported first. Without it: the library's own order.
  bool newestFirst = false;
  // At most this many results; 0 means no limit.
  std::int64_t fetchLimit = 0;
};

}  // namespace tolvek
