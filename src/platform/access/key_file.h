#pragma once
// The access store's file format: the desktop's key files ("[group]" lines,
// "key=value" lines, "#" comments), read and written as GLib's GKeyFile reads
// and writes them, so that every store written before reads the same and
// every store written now reads the same with GLib. What is kept on a
// rewrite is what GKeyFile kept: every group and key in order, no comments
// and no blank lines (one blank line goes between groups).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

class KeyFile {
 public:
  // The groups and keys of `text`; nothing when GKeyFile would refuse it (a
  // line that is no group, key or comment; a key before the first group; an
  // invalid group or key name; an Encoding in the first group that is not
  // UTF-8). `text` must already be valid UTF-8.
  static std::optional<KeyFile> parse(std::string_view text);

  bool hasGroup(std::string_view group) const;
  // The value of the last `key` in `group`, as the file holds it (escapes kept).
  std::optional<std::string> value(std::string_view group, std::string_view key) const;
  void removeGroup(std::string_view group);
  // Replaces the last `key` of `group`, else adds it at the group's end;
  // adds the group at the file's end when it has none.
  void setValue(std::string_view group, std::string_view key, std::string_view value);

  std::string text() const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Group {
    std::string name;
    std::vector<Entry> entries;
  };
  Group* group(std::string_view name);
  const Group* group(std::string_view name) const;

  std::vector<Group> groups_;
};

// GKeyFile's rule for a group name: not empty, no "[", "]" or control character.
bool isKeyFileGroupName(std::string_view name);

// A value holding `items` as a list: each escaped ("\\", "\n", "\r", ";" as
// "\;", leading blanks as "\s" and "\t") and followed by ";".
std::string keyFileListValue(const std::vector<std::string>& items);
// The items of a list value; nothing when an escape is invalid. A last item
// without its ";" counts; an empty value is an empty list.
std::optional<std::vector<std::string>> keyFileList(std::string_view value);

}  // namespace tolvek
