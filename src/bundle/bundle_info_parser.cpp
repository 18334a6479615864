// Reads the bundle values from an XML property list with the markup scanner
// (which decodes entities and skips the XML declaration and DOCTYPE).
#include <string>
#include <vector>

#include "bundle/bundle_info.h"
#include "bundle/markup_scanner.h"

namespace tolvek {
namespace {

struct PlistReader final : MarkupHandler {
  std::vector<std::string> open;  // names of the elements enclosing the cursor
  std::string key;                // the last <key> of the top-level dict
  std::string characters;         // character data of the current <key>/<string>
  bool sawTopDict = false;
  BundleInfo info;

  // <plist><dict><key|string>: a direct child of the top-level dictionary.
  bool atTopDictChild() const { return open.size() == 3 && open[0] == "plist" && open[1] == "dict"; }

  std::string* field(const std::string& name) {
    if (name == "CFBundleIdentifier") return &info.identifier;
    if (name == "CFBundleName") return &info.name;
    if (name == "CFBundleVersion") return &info.version;
    if (name == "NSPhotoLibraryUsageDescription") return &info.usageDescription;
    return nullptr;
  }

  void startElement(const std::string& name) override;
  void endElement(const std::string& name) override;
  void text(std::string_view piece) override;
};

void PlistReader::startElement(const std::string& name) {
  open.push_back(name);
  if (open.size() == 2 && open[0] == "plist" && open[1] == "dict") sawTopDict = true;
  characters.clear();
}

void PlistReader::endElement(const std::string& name) {
  if (atTopDictChild()) {
    if (name == "key") {
      key = characters;
    } else {
      if (name == "string") {
        if (std::string* target = field(key)) *target = characters;
      }
      key.clear();  // a value of any type consumes its key
    }
  }
  open.pop_back();
}

void PlistReader::text(std::string_view piece) {
  if (atTopDictChild()) characters.append(piece);
}

}  // namespace

std::optional<BundleInfo> parseBundleInfo(std::string_view plistXml) {
  PlistReader reader;
  if (!scanMarkup(plistXml, reader) || !reader.sawTopDict) return std::nullopt;
  return reader.info;
}

}  // namespace tolvek
