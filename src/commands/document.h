#pragma once
// A result document as a command writes it: the exact bytes of one compact
// JSON object (commands/json_writer.h), printed as they are. `Document` is a
// document as a JSON value (nlohmann), for documents given as values and for
// reading one back.
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

namespace tolvek {

using Document = nlohmann::json;

class ResultDocument {
 public:
  // The empty object, "{}".
  ResultDocument() : bytes_("{}") {}
  // `value` written as a command would write it (keys in the value's order,
  // which for nlohmann's objects is sorted by bytes): "{}" when it is not an
  // object or holds what JSON cannot express (a string that is not valid
  // UTF-8, a number that is not finite, binary or discarded values).
  ResultDocument(const Document& value);  // NOLINT: a value converts

  const std::string& bytes() const { return bytes_; }

  // The document read back as a JSON value, for callers that inspect it
  // (tests, the fuzz target); each call parses the bytes.
  Document value() const { return Document::parse(bytes_); }
  operator Document() const { return value(); }  // NOLINT: and back
  bool contains(std::string_view key) const { return value().contains(key); }
  Document at(std::string_view key) const { return value().at(key); }
  Document operator[](std::string_view key) const { return value().at(key); }
  // As nlohmann writes the value: no "\/".
  std::string dump() const { return value().dump(); }
  friend bool operator==(const ResultDocument& written, const Document& value) { return written.value() == value; }

 private:
  friend class JsonWriter;
  explicit ResultDocument(std::string bytes) : bytes_(std::move(bytes)) {}
  std::string bytes_;
};

}  // namespace tolvek
