#pragma once
// The platform's side of the modules' C boundary for pictures
// (picture_entry.h): a module's picture handle as a Picture, its bitmap as a
// Bitmap, each freeing its handle through the module's table.
#include <memory>

#include "library/picture.h"
#include "platform/modules/picture_entry.h"

namespace tolvek {

// Takes ownership of `picture` (made by the module whose table is `table`,
// which stays loaded); nothing for NULL.
std::unique_ptr<Picture> adoptModulePicture(const TolvekPictureTable& table, TolvekPicture* picture);

}  // namespace tolvek
