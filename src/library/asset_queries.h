#pragma once
// How the commands find assets and name them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/photo_library.h"

namespace tolvek {

// The options of every filtered query: pictures and videos only, newest
// first, and a fetch limit when `limit` is 1 or more (none otherwise).
FetchOptions fetchOptions(std::int64_t limit);

// Pictures and videos of the collection `inAlbum` (of any collection type),
// newest first, at most `limit` (the limit goes into the query), with one
// look-up of the collection. "" and "-" stand for the whole library. Null
// when `inAlbum` names no collection.
std::unique_ptr<FetchResult<Asset>> listedAssets(PhotoLibrary& library, const std::string& inAlbum,
                                                 std::int64_t limit);

// The same, but an identifier that names no collection gives the whole
// library without a limit.
std::unique_ptr<FetchResult<Asset>> assetsInAlbum(PhotoLibrary& library, const std::string& inAlbum,
                                                  std::int64_t limit);

// The assets named by `withIds`, in that order, with one query for the whole
// list: identifiers that name nothing are dropped, a repeated one repeats its
// asset. No media-type filter.
std::vector<Asset> assetsWithIds(PhotoLibrary& library, const std::vector<std::string>& withIds);

// The asset file name, never empty: the file name of the first photo or video
// resource (else of the first resource), unchanged; "video.mov" for a video
// and "photo.jpg" for anything else when there is none or it is empty.
std::string originalName(PhotoLibrary& library, const Asset& of);

// The name an asset of `mediaType` gets when the library has none.
std::string fallbackName(MediaType mediaType);

}  // namespace tolvek
