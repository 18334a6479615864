#pragma once
// A small XML scanner for the bundle information, as strict as GLib's
// markup parser was for it: valid UTF-8, elements properly nested and
// closed, no text outside elements, the five named entities and character
// references decoded, line ends as "\n"; the XML declaration, DOCTYPE,
// comments, processing instructions and CDATA sections are skipped.
#include <string>
#include <string_view>

namespace tolvek {

class MarkupHandler {
 public:
  virtual ~MarkupHandler() = default;
  virtual void startElement(const std::string& name) = 0;
  virtual void endElement(const std::string& name) = 0;
  // Decoded character data between tags, in one or more pieces.
  virtual void text(std::string_view piece) = 0;
};

// Feeds `document` to `handler`; false at the first fault (the handler may
// have seen part of the document by then).
bool scanMarkup(std::string_view document, MarkupHandler& handler);

}  // namespace tolvek
