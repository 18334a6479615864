#include "commands/json_writer.h"

#include <array>
#include <charconv>

#include "library/utf8_text.h"

namespace tolvek {
namespace {

// For each ASCII byte, the letter its escape has after the backslash ('u':
// \u00xx), or 0 when it is written as itself.
constexpr std::array<char, 128> kEscapes = [] {
  std::array<char, 128> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  return table;
}();

void appendEscape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char letter = kEscapes[c];
  if (letter == 'u') {
    const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    out.append(escape, sizeof escape);
  } else {
    const char escape[] = {'\\', letter};
    out.append(escape, sizeof escape);
  }
}

}  // namespace

bool appendJsonEscaped(std::string& out, std::string_view text) {
  const std::size_t before = out.size();
  const auto* at = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = at + text.size();
  const unsigned char* plain = at;  // start of the bytes not yet appended
  while (at < end) {
    const unsigned char c = *at;
    if (c < 0x80) {
      if (kEscapes[c] != 0) {
        out.append(reinterpret_cast<const char*>(plain), static_cast<std::size_t>(at - plain));
        appendEscape(out, c);
        plain = at + 1;
      }
      ++at;
      continue;
    }
    const std::size_t length =
        utf8SequenceLength(std::string_view(reinterpret_cast<const char*>(at), static_cast<std::size_t>(end - at)));
    if (length == 0) {
      out.resize(before);
      return false;
    }
    at += length;
  }
  out.append(reinterpret_cast<const char*>(plain), static_cast<std::size_t>(end - plain));
  return true;
}

void JsonWriter::separate() {
  if (comma_) bytes_ += ',';
}

void JsonWriter::appendEscaped(std::string_view text) {
  bytes_ += '"';
  if (!appendJsonEscaped(bytes_, text)) writable_ = false;
  bytes_ += '"';
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  bytes_ += '{';
  comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  bytes_ += '}';
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  bytes_ += '[';
  comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  bytes_ += ']';
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  appendEscaped(name);
  bytes_ += ':';
  comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
  separate();
  appendEscaped(text);
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
  separate();
  char digits[24];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  bytes_.append(digits, written.ptr);
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::unsignedInteger(std::uint64_t value) {
  separate();
  char digits[24];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  bytes_.append(digits, written.ptr);
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  separate();
  bytes_ += value ? "true" : "false";
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::null() {
  separate();
  bytes_ += "null";
  comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::numberText(std::string_view digits) {
  separate();
  bytes_ += digits;
  comma_ = true;
  return *this;
}

ResultDocument JsonWriter::finish() && {
  if (!writable_) return ResultDocument();
  return ResultDocument(std::move(bytes_));
}

}  // namespace tolvek
