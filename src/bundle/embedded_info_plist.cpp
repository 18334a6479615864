// The property list bytes inside this executable's image.
#include "bundle/bundle_info.h"

#if defined(__APPLE__)

#include <cstdint>

#include <mach-o/getsect.h>
#include <mach-o/ldsyms.h>

namespace tolvek {

// The linker copies the file into __TEXT,__info_plist (-sectcreate).
std::string_view embeddedInfoPlist() {
  unsigned long size = 0;
  const std::uint8_t* data = getsectiondata(&_mh_execute_header, "__TEXT", "__info_plist", &size);
  if (data == nullptr) return {};
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tolvek

#else

#ifndef TOLVEK_INFO_PLIST_PATH
#error "TOLVEK_INFO_PLIST_PATH must name resources/Info.plist"
#endif

// The assembler copies the file verbatim into a read-only, allocated section
// of its own, so binutils can extract it and the program can read it through
// the two labels around it. The labels keep the section alive in every link
// that uses embeddedInfoPlist().
asm(".pushsection .tolvek_info_plist,\"a\",@progbits\n"
    ".globl tolvek_info_plist_begin\n"
    ".hidden tolvek_info_plist_begin\n"
    ".globl tolvek_info_plist_end\n"
    ".hidden tolvek_info_plist_end\n"
    "tolvek_info_plist_begin:\n"
    ".incbin \"" TOLVEK_INFO_PLIST_PATH "\"\n"
    "tolvek_info_plist_end:\n"
    ".popsection\n");

extern "C" {
__attribute__((visibility("hidden"))) extern const char tolvek_info_plist_begin[];
__attribute__((visibility("hidden"))) extern const char tolvek_info_plist_end[];
}

namespace tolvek {

std::string_view embeddedInfoPlist() {
  return {tolvek_info_plist_begin, static_cast<std::size_t>(tolvek_info_plist_end - tolvek_info_plist_begin)};
}

}  // namespace tolvek

#endif

namespace tolvek {

BundleInfo embeddedBundleInfo() { return parseBundleInfo(embeddedInfoPlist()).value_or(BundleInfo{}); }

}  // namespace tolvek
