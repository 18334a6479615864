// Reads the bundle values from an XML property list with GLib's markup
// parser (which decodes entities and skips the XML declaration and DOCTYPE).
#include <glib.h>

#include <string>
#include <vector>

#include "bundle/bundle_info.h"

namespace tolvek {
namespace {

struct PlistReader {
  std::vector<std::string> open;  // names of the elements enclosing the cursor
  std::string key;                // the last <key> of the top-level dict
  std::string text;               // character data of the current <key>/<string>
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
};

PlistReader& readerOf(gpointer data) { return *static_cast<PlistReader*>(data); }

void startElement(GMarkupParseContext*, const gchar* name, const gchar**, const gchar**, gpointer data,
                  GError**) {
  PlistReader& reader = readerOf(data);
  reader.open.emplace_back(name);
  if (reader.open.size() == 2 && reader.open[0] == "plist" && reader.open[1] == "dict") reader.sawTopDict = true;
  reader.text.clear();
}

void endElement(GMarkupParseContext*, const gchar* name, gpointer data, GError**) {
  PlistReader& reader = readerOf(data);
  if (reader.atTopDictChild()) {
    const std::string element = name;
    if (element == "key") {
      reader.key = reader.text;
    } else {
      if (element == "string") {
        if (std::string* target = reader.field(reader.key)) *target = reader.text;
      }
      reader.key.clear();  // a value of any type consumes its key
    }
  }
  reader.open.pop_back();
}

void characters(GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
  PlistReader& reader = readerOf(data);
  if (reader.atTopDictChild()) reader.text.append(text, length);
}

}  // namespace

std::optional<BundleInfo> parseBundleInfo(std::string_view plistXml) {
  const GMarkupParser parser{startElement, endElement, characters, nullptr, nullptr};
  PlistReader reader;
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, static_cast<GMarkupParseFlags>(0), &reader, nullptr);
  GError* error = nullptr;
  const bool parsed = g_markup_parse_context_parse(context, plistXml.data(),
                                                   static_cast<gssize>(plistXml.size()), &error) &&
                      g_markup_parse_context_end_parse(context, &error);
  g_clear_error(&error);
  g_markup_parse_context_free(context);
  if (!parsed || !reader.sawTopDict) return std::nullopt;
  return reader.info;
}

}  // namespace tolvek
