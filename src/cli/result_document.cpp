#include "cli/result_document.h"

#include "commands/json_writer.h"

namespace tolvek {

std::string serializeDocument(const Document& document) { return ResultDocument(document).bytes(); }

ResultDocument errorResult(std::string_view code, std::string_view message) {
  JsonWriter out(64 + code.size() + message.size());
  out.beginObject().key("error").string(code).key("message").string(message).endObject();
  return std::move(out).finish();
}

Document errorDocument(std::string_view code, std::string_view message) { return errorResult(code, message); }

}  // namespace tolvek
