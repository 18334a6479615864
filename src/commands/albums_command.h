#pragma once
// `albums`: every album of the library with its title and the number of
// pictures and videos in it.
#include "commands/document.h"
#include "library/photo_library.h"

namespace tolvek {

// {"albums": [{"id", "name", "count"}, ...]} in the library's order of the
// albums (collection type 1, any subtype). One counting fetch per album.
ResultDocument cmdAlbums(PhotoLibrary& library);

}  // namespace tolvek
