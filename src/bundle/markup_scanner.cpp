#include "bundle/markup_scanner.h"

#include <optional>
#include <vector>

#include "library/utf8_text.h"

namespace tolvek {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
  } else if (c < 0x10000) {
    out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
  } else {
    out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
            static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
}

// "&#10;", "&#x41;": a character that may appear in XML text.
std::optional<char32_t> characterReference(std::string_view digits) {
  const bool hex = !digits.empty() && digits.front() == 'x';
  if (hex) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  char32_t value = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
  }
  const bool allowed = value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
                       (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
  return allowed ? std::optional<char32_t>(value) : std::nullopt;
}

// Text or an attribute value with its entities decoded and line ends made "\n".
std::optional<std::string> decoded(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      out += '\n';
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    } else if (raw[i] != '&') {
      out += raw[i];
    } else {
      const std::size_t end = raw.find(';', i);
      if (end == std::string_view::npos) return std::nullopt;
      const std::string_view name = raw.substr(i + 1, end - i - 1);
      static constexpr std::pair<std::string_view, char> kNamed[] = {
          {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
      bool known = false;
      for (const auto& [entity, c] : kNamed) {
        if (name == entity) out += c, known = true;
      }
      if (!known) {
        if (name.empty() || name.front() != '#') return std::nullopt;
        const std::optional<char32_t> c = characterReference(name.substr(1));
        if (!c) return std::nullopt;
        appendUtf8(*c, out);
      }
      i = end;
    }
  }
  return out;
}

class Scanner {
 public:
  Scanner(std::string_view document, MarkupHandler& handler) : in_(document), handler_(handler) {}

  bool run() {
    bool sawElement = false;
    while (at_ < in_.size()) {
      if (in_[at_] != '<') {
        if (!text()) return false;
      } else if (skipped("<?", "?>") || skipped("<!--", "-->") || skipped("<![CDATA[", "]]>")) {
        if (failed_) return false;
      } else if (in_.substr(at_, 2) == "<!") {
        if (!declaration()) return false;
      } else if (in_.substr(at_, 2) == "</") {
        if (!endTag()) return false;
      } else {
        if (!startTag()) return false;
        sawElement = true;
      }
    }
    return sawElement && open_.empty();
  }

 private:
  // Skips from `start` to past `end` when the input continues with `start`.
  bool skipped(std::string_view start, std::string_view end) {
    if (in_.substr(at_, start.size()) != start) return false;
    const std::size_t close = in_.find(end, at_ + start.size());
    failed_ = close == std::string_view::npos;
    at_ = failed_ ? in_.size() : close + end.size();
    return true;
  }

  // <!DOCTYPE ...>, with quoted strings and an internal subset in brackets.
  bool declaration() {
    int depth = 0;
    for (at_ += 2; at_ < in_.size(); ++at_) {
      const char c = in_[at_];
      if (c == '"' || c == '\'') {
        at_ = in_.find(c, at_ + 1);
        if (at_ == std::string_view::npos) return false;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']') {
        --depth;
      } else if (c == '>' && depth == 0) {
        ++at_;
        return true;
      }
    }
    return false;
  }

  bool text() {
    const std::size_t end = std::min(in_.find('<', at_), in_.size());
    const std::string_view raw = in_.substr(at_, end - at_);
    at_ = end;
    if (open_.empty()) return raw.find_first_not_of(" \t\n\r") == std::string_view::npos;
    const std::optional<std::string> piece = decoded(raw);
    if (!piece) return false;
    handler_.text(*piece);
    return true;
  }

  std::optional<std::string> name() {
    const std::size_t start = at_;
    if (at_ >= in_.size() || !isNameStart(in_[at_])) return std::nullopt;
    while (at_ < in_.size() && isNameChar(in_[at_])) ++at_;
    return std::string(in_.substr(start, at_ - start));
  }

  void skipBlanks() {
    while (at_ < in_.size() && isBlank(in_[at_])) ++at_;
  }

  bool endTag() {
    at_ += 2;
    const std::optional<std::string> element = name();
    skipBlanks();
    if (!element || at_ >= in_.size() || in_[at_] != '>' || open_.empty() || open_.back() != *element) return false;
    ++at_;
    open_.pop_back();
    handler_.endElement(*element);
    return true;
  }

  // name="value" or name='value', its value decoded and dropped.
  bool attribute() {
    if (!name()) return false;
    skipBlanks();
    if (at_ >= in_.size() || in_[at_] != '=') return false;
    ++at_;
    skipBlanks();
    if (at_ >= in_.size() || (in_[at_] != '"' && in_[at_] != '\'')) return false;
    const std::size_t close = in_.find(in_[at_], at_ + 1);
    if (close == std::string_view::npos || !decoded(in_.substr(at_ + 1, close - at_ - 1))) return false;
    at_ = close + 1;
    return true;
  }

  bool startTag() {
    ++at_;
    const std::optional<std::string> element = name();
    if (!element) return false;
    while (true) {
      skipBlanks();
      if (at_ >= in_.size()) return false;
      if (in_[at_] == '>' || in_.substr(at_, 2) == "/>") break;
      if (!attribute()) return false;
    }
    const bool empty = in_[at_] == '/';
    at_ += empty ? 2 : 1;
    handler_.startElement(*element);
    if (empty) {
      handler_.endElement(*element);
    } else {
      open_.push_back(*element);
    }
    return true;
  }

  std::string_view in_;
  MarkupHandler& handler_;
  std::size_t at_ = 0;
  bool failed_ = false;
  std::vector<std::string> open_;
};

}  // namespace

bool scanMarkup(std::string_view document, MarkupHandler& handler) {
  if (!isValidUtf8(document)) return false;
  return Scanner(document, handler).run();
}

}  // namespace tolvek
