#pragma once
// Writes a result document straight into its bytes: compact JSON, one pass,
// no tree of values. Strings are escaped as they are appended: quotation
// marks, backslashes and control characters (\b \f \n \r \t, the others as
// \u00xx), every "/" as "\/", everything else as plain UTF-8. A string that
// is not valid UTF-8 makes the whole document unwritable: it is then "{}".
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/document.h"

namespace tolvek {

class JsonWriter {
 public:
  // `expectedBytes`: room reserved up front (a guess; it grows as needed).
  explicit JsonWriter(std::size_t expectedBytes = 256) { bytes_.reserve(expectedBytes); }

  // The caller writes one object at the top and balances every begin with
  // its end; keys and values alternate inside objects, in the order the
  // document shows them.
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);
  JsonWriter& string(std::string_view text);
  JsonWriter& integer(std::int64_t value);
  JsonWriter& unsignedInteger(std::uint64_t value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();
  // A number already written as JSON (digits, sign, fraction, exponent).
  JsonWriter& numberText(std::string_view digits);
  // Marks the document unwritable (a value JSON cannot express).
  void refuse() { writable_ = false; }

  // The document: what was written, or "{}" when it is unwritable.
  ResultDocument finish() &&;

 private:
  void separate();
  void appendEscaped(std::string_view text);

  std::string bytes_;
  bool comma_ = false;  // a value ended last, so the next key or value needs ","
  bool writable_ = true;
};

// `text` escaped as the writer escapes strings, without quotation marks,
// appended to `out`; false (and `out` unchanged) when it is not valid UTF-8.
bool appendJsonEscaped(std::string& out, std::string_view text);

}  // namespace tolvek
