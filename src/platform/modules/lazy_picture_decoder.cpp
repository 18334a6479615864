#include "platform/modules/lazy_picture_decoder.h"

#include "platform/modules/media_module.h"

namespace tolvek {

std::unique_ptr<Picture> LazyPictureDecoder::decode(std::string_view data) {
  MediaModule* module = loadMediaModule();
  if (module == nullptr) return nullptr;
  return module->pictureDecoder().decode(data);
}

}  // namespace tolvek
