#pragma once
// The bundle information the executable carries inside its own image: the
// XML property list from resources/Info.plist, in a section of its own
// (ELF: ".tolvek_info_plist"; Mach-O: __TEXT,__info_plist). The platform
// layer keys the access store by the identifier and shows the usage
// description when it asks the user for access.
//
// Implemented by the target tolvek_bundle_info (src/bundle/), which any
// executable that needs these values links.
#include <optional>
#include <string>
#include <string_view>

namespace tolvek {

struct BundleInfo {
  std::string identifier;        // CFBundleIdentifier
  std::string name;              // CFBundleName
  std::string version;           // CFBundleVersion
  std::string usageDescription;  // NSPhotoLibraryUsageDescription
};

// Name of the ELF section holding the property list, for binutils:
//   objcopy -O binary --only-section=.tolvek_info_plist tolvek-photos out.plist
inline constexpr std::string_view kInfoPlistSection = ".tolvek_info_plist";

// The property list bytes exactly as embedded; they live as long as the process.
std::string_view embeddedInfoPlist();

// The four values of the embedded property list. A value the list lacks is
// empty (cannot happen with the list this project ships).
BundleInfo embeddedBundleInfo();

// The string values of the four keys in the top-level dictionary of an XML
// property list; keys of other types or in nested containers are ignored.
// Nothing when the text is not well-formed XML or has no top-level dictionary.
std::optional<BundleInfo> parseBundleInfo(std::string_view plistXml);

}  // namespace tolvek
