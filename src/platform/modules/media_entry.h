#pragma once
// The one symbol the media module exports: it returns the process's single
// MediaModule, created on first call. The loader looks it up with dlsym.
namespace tolvek {
class MediaModule;
}

inline constexpr char kMediaModuleEntryName[] = "tolvek_media_module";
using MediaModuleEntry = tolvek::MediaModule* (*)();
