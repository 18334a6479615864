#pragma once
// Plain values that the photo library hands out. They are copies: holding one
// keeps nothing of the library alive.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
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
inline constexpr std::int64_t kMediaUnknown = 0;
inline constexpr std::int64_t kMediaImage = 1;
inline constexpr std::int64_t kMediaVideo = 2;
inline constexpr std::int64_t kMediaAudio = 3;

// Collection types and the subtype that matches every subtype.
inline constexpr std::int64_t kCollectionAlbum = 1;
inline constexpr std::int64_t kCollectionSmartAlbum = 2;
inline constexpr std::int64_t kCollectionMoment = 3;
inline constexpr std::int64_t kCollectionSubtypeAny = std::numeric_limits<std::int64_t>::max();

// Resource types.
inline constexpr std::int64_t kResourcePhoto = 1;
inline constexpr std::int64_t kResourceVideo = 2;
inline constexpr std::int64_t kResourceAudio = 3;

struct Asset {
  std::string localIdentifier;
  std::int64_t mediaType = kMediaUnknown;
  // Seconds since 1970-01-01T00:00:00Z; absent when the library has no date.
  std::optional<std::int64_t> creationDate;
  // The implementation's own handle for this asset; callers never interpret it.
  std::int64_t handle = 0;
};

struct AssetCollection {
  std::string localIdentifier;
  std::int64_t type = kCollectionAlbum;
  std::int64_t subtype = 0;
  // Absent and empty are different: absent means the collection has no title.
  std::optional<std::string> localizedTitle;
  std::int64_t handle = 0;
};

struct AssetResource {
  std::int64_t type = kResourcePhoto;
  std::string originalFilename;  // may be empty
  std::string uniformTypeIdentifier;  // for example "public.heic"; may be empty
  // The implementation's own handles: the owning asset and the resource's place.
  std::int64_t assetHandle = 0;
  std::int64_t handle = 0;
};

// What a fetch selects and how it orders. Only what the program uses.
struct FetchOptions {
  // Media types to keep; empty keeps every media type.
  std::vector<std::int64_t> mediaTypes;
  // Newest creation date first; assets without a date last; equal dates put
  // the most recently imported first. Without it: the library's own order.
  bool newestFirst = false;
  // At most this many results; 0 means no limit.
  std::int64_t fetchLimit = 0;
};

}  // namespace tolvek
