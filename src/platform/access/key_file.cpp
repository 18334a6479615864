#include "platform/access/key_file.h"

#include <algorithm>
#include <utility>

namespace tolvek {
namespace {

constexpr char kSeparator = ';';

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string_view withoutLeadingSpace(std::string_view text) {
  while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
  return text;
}

// "[name]" followed by nothing but blanks: the name up to the first "]".
std::optional<std::string_view> groupLine(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  if (line.find_first_not_of(" \t", close + 1) != std::string_view::npos) return std::nullopt;
  return line.substr(1, close - 1);
}

// A key: no "=", "[" or "]", no blank at either end, optionally followed by
// a locale in brackets ("Name[de_DE.UTF-8@euro]").
bool isKeyName(std::string_view key) {
  const std::size_t end = std::min(key.find_first_of("=[]"), key.size());
  if (end == 0 || key.front() == ' ' || key[end - 1] == ' ') return false;
  if (end == key.size()) return true;
  if (key[end] != '[' || key.back() != ']') return false;
  const std::string_view locale = key.substr(end + 1, key.size() - end - 2);
  return std::all_of(locale.begin(), locale.end(), [](char c) {
    return isAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || c == '@' || static_cast<unsigned char>(c) >= 0x80;
  });
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

bool isKeyFileGroupName(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '[' || c == ']' || byte < 0x20 || byte == 0x7F;
  });
}

std::optional<KeyFile> KeyFile::parse(std::string_view text) {
  KeyFile file;
  Group* current = nullptr;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view raw = text.substr(0, end);
    // A carriage return before a line feed goes; one at the very end stays.
    if (end < text.size() && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    text.remove_prefix(std::min(end + 1, text.size()));
    const std::string_view line = withoutLeadingSpace(raw);
    if (line.empty() || line.front() == '#') continue;
    if (const auto name = groupLine(line)) {
      if (!isKeyFileGroupName(*name)) return std::nullopt;
      current = file.group(*name);
      if (current == nullptr) current = &file.groups_.emplace_back(Group{std::string(*name), {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0 || current == nullptr) return std::nullopt;
    std::string_view key = line.substr(0, equals);
    while (!key.empty() && isAsciiSpace(key.back())) key.remove_suffix(1);
    if (!isKeyName(key)) return std::nullopt;
    const std::string_view value = withoutLeadingSpace(line.substr(equals + 1));
    if (current == &file.groups_.front() && key == "Encoding" && !equalsIgnoringAsciiCase(value, "UTF-8")) {
      return std::nullopt;
    }
    current->entries.push_back({std::string(key), std::string(value)});
  }
  return file;
}

KeyFile::Group* KeyFile::group(std::string_view name) {
  auto found = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.name == name; });
  return found == groups_.end() ? nullptr : &*found;
}

const KeyFile::Group* KeyFile::group(std::string_view name) const {
  return const_cast<KeyFile*>(this)->group(name);
}

bool KeyFile::hasGroup(std::string_view name) const { return group(name) != nullptr; }

std::optional<std::string> KeyFile::value(std::string_view name, std::string_view key) const {
  const Group* found = group(name);
  if (found == nullptr) return std::nullopt;
  for (auto entry = found->entries.rbegin(); entry != found->entries.rend(); ++entry) {
    if (entry->key == key) return entry->value;
  }
  return std::nullopt;
}

void KeyFile::removeGroup(std::string_view name) {
  std::erase_if(groups_, [&](const Group& g) { return g.name == name; });
}

void KeyFile::setValue(std::string_view name, std::string_view key, std::string_view value) {
  Group* target = group(name);
  if (target == nullptr) target = &groups_.emplace_back(Group{std::string(name), {}});
  for (auto entry = target->entries.rbegin(); entry != target->entries.rend(); ++entry) {
    if (entry->key == key) {
      entry->value = value;
      return;
    }
  }
  target->entries.push_back({std::string(key), std::string(value)});
}

std::string KeyFile::text() const {
  std::string out;
  for (const Group& g : groups_) {
    if (!out.empty()) out += '\n';
    out += '[' + g.name + "]\n";
    for (const Entry& entry : g.entries) out += entry.key + '=' + entry.value + '\n';
  }
  return out;
}

std::string keyFileListValue(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    bool leading = true;  // blanks at the start of an item (or after an escaped ";") are escaped
    for (const char c : std::string_view(item.c_str())) {
      if ((c == ' ' || c == '\t') && leading) {
        out += c == ' ' ? "\\s" : "\\t";
      } else if (c == '\n' || c == '\r') {
        out += c == '\n' ? "\\n" : "\\r";
      } else if (c == '\\' || c == kSeparator) {
        out += '\\';
        out += c;
        leading = c == kSeparator;
      } else {
        out += c;
        leading = leading && (c == ' ' || c == '\t');
      }
    }
    out += kSeparator;
  }
  return out;
}

std::optional<std::vector<std::string>> keyFileList(std::string_view value) {
  std::vector<std::string> items;
  std::string item;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == kSeparator) {
      items.push_back(std::exchange(item, {}));
      continue;
    }
    if (c == '\\') {
      if (++i == value.size()) return std::nullopt;  // an escape at the end of the line
      static constexpr std::string_view kFrom = "sntr\\;", kTo = " \n\t\r\\;";
      const std::size_t known = kFrom.find(value[i]);
      if (known == std::string_view::npos) return std::nullopt;
      c = kTo[known];
    }
    item += c;
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

}  // namespace tolvek
