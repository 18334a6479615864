#pragma once
// Starts libvips once per process and silences every library the module
// uses (libvips, libheif, GLib, FFmpeg), so nothing reaches standard error.
namespace tolvek::media {

// Safe to call from any thread, any number of times; false when libvips
// could not start.
bool startMediaLibraries();

}  // namespace tolvek::media
