#include "usage_shape.h"

#include <array>

namespace tolvek::manual {
namespace {

struct NamedKind {
  std::string_view name;
  OperandKind kind;
};
constexpr std::array kOperandKinds{
    NamedKind{"FOLDER", OperandKind::folder},
    NamedKind{"SOURCE", OperandKind::file},
    NamedKind{"PATH", OperandKind::file},
    NamedKind{"DATABASE", OperandKind::file},
    NamedKind{"ASSET_ID", OperandKind::file},  // an identifier, or the path of a file the library holds
};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  while (true) {
    const std::size_t end = text.find(separator);
    if (end != 0 && !text.empty()) pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    text.remove_prefix(end + 1);
  }
}

// `token` without its brackets and the ellipsis of a repeated operand
// ("..." or U+2026).
std::string_view bare(std::string_view token) {
  constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  while (!token.empty() && (token.front() == '[' || token.front() == '<')) token.remove_prefix(1);
  while (!token.empty()) {
    if (token.ends_with(kEllipsis)) {
      token.remove_suffix(kEllipsis.size());
    } else if (token.back() == ']' || token.back() == '>' || token.back() == '.') {
      token.remove_suffix(1);
    } else {
      break;
    }
  }
  return token;
}

int bracketChange(std::string_view token) {
  int change = 0;
  for (const char c : token) change += c == '[' ? 1 : c == ']' ? -1 : 0;
  return change;
}

}  // namespace

UsageShape usageShape(std::string_view usage) {
  UsageShape shape;
  const std::vector<std::string_view> tokens = split(usage, ' ');
  int depth = 0;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    const bool optional = depth > 0 || token.front() == '[';
    const bool named = token.front() == '<';  // <size>: an operand however written
    depth += bracketChange(token);
    if (token == "|") continue;
    const bool alternative = tokens[i - 1] == "|" || (i + 1 < tokens.size() && tokens[i + 1] == "|");
    for (const std::string_view choice : split(bare(token), '|')) {
      if (choice.starts_with('-')) {
        if (!optional && !alternative) shape.requiredOptions.emplace_back(choice);
      } else if (i == 1 && !optional && !named && choice.front() >= 'a' && choice.front() <= 'z') {
        shape.subWords.emplace_back(choice);
      } else {
        shape.operands.emplace_back(choice);
      }
    }
  }
  return shape;
}

OperandKind operandKind(std::string_view name) {
  for (const NamedKind& known : kOperandKinds) {
    if (known.name == name) return known.kind;
  }
  return OperandKind::none;
}

}  // namespace tolvek::manual
