#pragma once
// Everything a command may use, handed in by the entry. All references
// outlive the run.
#include "library/file_system.h"
#include "library/main_loop.h"
#include "library/photo_library.h"
#include "library/picture.h"

namespace tolvek {

struct Services {
  PhotoLibrary& library;
  PictureDecoder& pictures;
  MainLoop& mainLoop;
  Clock& clock;
  FileSystem& files;
};

}  // namespace tolvek
