#include "commands/document.h"

#include <cmath>
#include <cstdint>

#include "commands/json_writer.h"

namespace tolvek {
namespace {

void writeValue(JsonWriter& out, const Document& value) {
  switch (value.type()) {
    case Document::value_t::object:
      out.beginObject();
      for (auto member = value.begin(); member != value.end(); ++member) {
        out.key(member.key());
        writeValue(out, member.value());
      }
      out.endObject();
      return;
    case Document::value_t::array:
      out.beginArray();
      for (const Document& element : value) writeValue(out, element);
      out.endArray();
      return;
    case Document::value_t::string:
      out.string(value.get_ref<const std::string&>());
      return;
    case Document::value_t::boolean:
      out.boolean(value.get<bool>());
      return;
    case Document::value_t::number_integer:
      out.integer(value.get<std::int64_t>());
      return;
    case Document::value_t::number_unsigned:
      out.unsignedInteger(value.get<std::uint64_t>());
      return;
    case Document::value_t::number_float:
      // nlohmann's own shortest form; a non-finite number would be null.
      if (std::isfinite(value.get<double>())) {
        out.numberText(value.dump());
      } else {
        out.refuse();
      }
      return;
    case Document::value_t::null:
      out.null();
      return;
    case Document::value_t::binary:
    case Document::value_t::discarded:
      out.refuse();
      return;
  }
}

}  // namespace

ResultDocument::ResultDocument(const Document& value) {
  if (!value.is_object()) {
    bytes_ = "{}";
    return;
  }
  JsonWriter out;
  writeValue(out, value);
  bytes_ = std::move(out).finish().bytes_;
}

}  // namespace tolvek
