#include "roff.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "library/utf8_text.h"

namespace tolvek::manual {
namespace {

bool isWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool startsWord(char previous) {
  switch (previous) {
    case ' ':
    case '(':
    case '[':
    case '|':
    case '"':
    case '{':
    case '<':
      return true;
    default:
      return false;
  }
}

// The code point of the well-formed sequence of `length` bytes at `text`.
std::uint32_t codePoint(std::string_view text, std::size_t length) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])); };
  if (length == 1) return byte(0);
  std::uint32_t value = byte(0) & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (byte(i) & 0x3Fu);
  return value;
}

std::string namedCharacter(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\[u%04X]", static_cast<unsigned>(value));
  return buffer;
}

constexpr std::uint32_t kEllipsis = 0x2026;

// True when the space-separated word at the start of `text` holds a hyphen
// that is no option's: "\\%" before it keeps groff from breaking the line
// there (tolvek-photos-watch.service, read-only).
bool hasPlainHyphen(std::string_view text) {
  const std::string_view word = text.substr(0, text.find(' '));
  const std::size_t start = word.find_first_not_of("([{<|\"");
  return start != std::string_view::npos && word[start] != '-' && word.find('-', start) != std::string_view::npos;
}

// `line` with its characters escaped, as roffText says, wherever it stands in
// a line.
std::string escaped(std::string_view line) {
  std::string out;
  bool inOption = false;
  char previous = ' ';
  for (std::size_t i = 0; i < line.size();) {
    const char c = line[i];
    const auto byte = static_cast<unsigned char>(c);
    if ((i == 0 || line[i - 1] == ' ') && hasPlainHyphen(line.substr(i))) out += "\\%";
    if (byte >= 0x80) {
      const std::size_t length = utf8SequenceLength(line.substr(i));
      const std::uint32_t value = length == 0 ? 0xFFFD : codePoint(line.substr(i), length);
      // An ellipsis as three dots, which every device has (groff's ASCII one has no U+2026).
      out += value == kEllipsis ? std::string("...") : namedCharacter(value);
      i += length == 0 ? 1 : length;
      previous = 'x';
      inOption = false;
      continue;
    }
    if (c == '-' && (inOption || startsWord(previous))) {
      out += "\\-";
      inOption = true;
    } else {
      inOption = inOption && isWordCharacter(c);
      out += c == '\\' ? std::string_view("\\e") : std::string_view(&line[i], 1);
    }
    previous = c;
    ++i;
  }
  return out;
}

// `roff` made safe to start a line: one that starts with a dot or apostrophe
// would be a request.
void guardLineStart(std::string& roff) {
  if (!roff.empty() && (roff.front() == '.' || roff.front() == '\'')) roff.insert(0, "\\&");
}

}  // namespace

std::string roffText(std::string_view line) {
  std::string out = escaped(line);
  guardLineStart(out);
  return out;
}

std::string roffUsage(std::string_view usage) {
  std::string out;
  int depth = 0;  // inside brackets or angle brackets
  for (std::size_t i = 0; i < usage.size();) {
    const char c = usage[i];
    if (!isWordCharacter(c) || c == '_') {
      if (c == '[' || c == '<') ++depth;
      if ((c == ']' || c == '>') && depth > 0) --depth;
      if (static_cast<unsigned char>(c) >= 0x80) {
        std::size_t end = i;
        while (end < usage.size() && static_cast<unsigned char>(usage[end]) >= 0x80) ++end;
        out += escaped(usage.substr(i, end - i));
        i = end;
        continue;
      }
      out += c == '\\' ? std::string_view("\\e") : std::string_view(&usage[i], 1);
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < usage.size() && isWordCharacter(usage[end])) ++end;
    const std::string_view word = usage.substr(i, end - i);
    const bool operand = (word.front() >= 'A' && word.front() <= 'Z') || (depth > 0 && word.front() != '-');
    out += operand ? "\\fI" : "\\fB";
    // An option's hyphens come out as minus signs (escaped).
    out += escaped(word);
    out += "\\fR";
    i = end;
  }
  // A usage may stand on a line of its own.
  guardLineStart(out);
  return out;
}

std::string roffParagraphs(std::string_view help) {
  std::string out = ".PP\n";
  bool newParagraph = false;
  bool inList = false;
  while (!help.empty()) {
    const std::size_t end = help.find('\n');
    const std::string_view line = help.substr(0, end);
    help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos) {
      newParagraph = true;
      inList = false;
      continue;
    }
    if (newParagraph) out += ".PP\n";
    newParagraph = false;
    const std::size_t gap = indent == 2 ? line.find("  ", indent) : std::string_view::npos;
    const std::size_t column = gap == std::string_view::npos ? gap : line.find_first_not_of(' ', gap);
    if (column != std::string_view::npos) {
      out += ".TP " + std::to_string(column - indent) + "n\n";
      out += roffUsage(line.substr(indent, gap - indent)) + "\n";
      out += roffText(line.substr(column)) + "\n";
      inList = true;
      continue;
    }
    if (inList && indent <= 2) {
      out += ".PP\n";
      inList = false;
    }
    out += roffText(line.substr(indent)) + "\n";
  }
  return out;
}

std::string roffArgument(std::string_view text) {
  std::string out = "\"";
  for (const char c : roffText(text)) {
    if (c == '"') {
      out += "\\(dq";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace tolvek::manual
