#include "completion.h"

#include <algorithm>
#include <map>

#include "usage_shape.h"

namespace tolvek::manual {
namespace {

constexpr std::string_view kPreamble = R"(# bash completion for tolvek-photos-library                -*- shell-script -*-
# Made from the tool's command table when the tool is built; do not edit.

# Offers the words of $1 that start with the word being completed.
_tolvek_photos_library_words()
{
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "${COMP_WORDS[COMP_CWORD]}")
}

# Offers the names of files and folders ($1 -f), or of folders (-d), that
# start with the word being completed.
_tolvek_photos_library_paths()
{
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "${COMP_WORDS[COMP_CWORD]}")
}

# True when one of the options named is on the line before the word being
# completed.
_tolvek_photos_library_given()
{
    local i option
    for ((i = 2; i < COMP_CWORD; i++)); do
        for option; do
            [[ ${COMP_WORDS[i]} == "$option" ]] && return 0
        done
    done
    return 1
}

_tolvek_photos_library()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
)";

// After the command's options, values and sub-words are set: the operands
// before the word being completed (the first is the sub-word; after "--"
// every word is one, and an option's value is none), then options, sub-words
// or the operand's kind.
constexpr std::string_view kWalk = R"(    local i word sub="" operands=0 ended=0
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((!ended)) && [[ $word == = && ${COMP_WORDS[i-1]} == --* ]]; then
            i=$((i + 1))
        elif ((ended)) || [[ $word != -?* ]]; then
            ((operands == 0)) && sub=$word
            operands=$((operands + 1))
        elif [[ $word == -- ]]; then
            ended=1
        elif [[ -n $values && " $values " == *" $word "* ]]; then
            i=$((i + 1))
        fi
    done
    if ((!ended)); then
        [[ $prev == = || ( -n $values && " $values " == *" $prev "* ) ]] && return 0
        if [[ $cur == -* ]]; then
            _tolvek_photos_library_words "$options"
            return 0
        fi
    fi
    if [[ -z $subwords ]]; then
        sub=""
    elif ((operands == 0)); then
        _tolvek_photos_library_words "$subwords"
        return 0
    fi
)";

constexpr std::string_view kEnd = R"(    return 0
}
complete -F _tolvek_photos_library tolvek-photos-library
)";

bool isPlainWord(std::string_view word) {
  if (word.empty() || word.front() == '-') return false;
  return std::all_of(word.begin(), word.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::string joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
  return line;
}

// A usage's say in what the shell offers for an operand: when its options
// are given, its operands' kind.
struct OperandRule {
  std::vector<std::string> options;  // none: the default
  OperandKind kind = OperandKind::none;
};

// What follows one command: its options, those that take a value, its
// sub-words and, by sub-word ("" for none), the rules of its usages.
struct CommandShape {
  std::vector<std::string> options;
  std::vector<std::string> values;
  std::vector<std::string> subWords;
  std::map<std::string, std::vector<OperandRule>> rules;
};

Result<CommandShape> commandShape(const tool::ToolCommand& command) {
  CommandShape shape;
  for (const tool::KnownOption& option : command.options()) {
    if (!isPlainWord(option.name)) return Status::error("option '" + std::string(option.name) + "' needs quoting");
    shape.options.push_back("--" + std::string(option.name));
    if (option.takesValue) shape.values.push_back(shape.options.back());
  }
  shape.options.emplace_back("--help");
  for (const std::string& usage : tool::usageLines(command)) {
    const UsageShape usageParts = usageShape(usage);
    OperandRule rule{usageParts.requiredOptions, OperandKind::none};
    for (const std::string& operand : usageParts.operands) rule.kind = std::max(rule.kind, operandKind(operand));
    for (const std::string& word : usageParts.subWords) {
      if (!isPlainWord(word)) return Status::error("word '" + word + "' of " + usage + " needs quoting");
      if (std::find(shape.subWords.begin(), shape.subWords.end(), word) == shape.subWords.end()) {
        shape.subWords.push_back(word);
      }
      shape.rules[word].push_back(rule);
    }
    if (usageParts.subWords.empty()) shape.rules[""].push_back(rule);
  }
  return shape;
}

std::string_view offer(OperandKind kind) {
  switch (kind) {
    case OperandKind::file:
      return "_tolvek_photos_library_paths -f";
    case OperandKind::folder:
      return "_tolvek_photos_library_paths -d";
    case OperandKind::none:
      break;
  }
  return ":";
}

// The case branch for one sub-word: the first usage whose options are given
// decides, else the usages that need none (with none such, every usage).
std::string operandBranch(const std::string& key, const std::vector<OperandRule>& rules) {
  OperandKind fallback = OperandKind::none;
  OperandKind any = OperandKind::none;
  bool hasDefault = false;
  std::string gated;
  for (const OperandRule& rule : rules) {
    any = std::max(any, rule.kind);
    if (rule.options.empty()) {
      fallback = std::max(fallback, rule.kind);
      hasDefault = true;
    } else {
      gated += "if _tolvek_photos_library_given " + joined(rule.options) + "; then " + std::string(offer(rule.kind)) +
               "; el";
    }
  }
  const OperandKind otherwise = hasDefault ? fallback : any;
  if (any == OperandKind::none) return "";
  if (gated.empty()) return "        " + key + ") " + std::string(offer(otherwise)) + " ;;\n";
  return "        " + key + ") " + gated + "se " + std::string(offer(otherwise)) + "; fi ;;\n";
}

}  // namespace

Result<std::string> bashCompletion(std::span<const tool::ToolCommand> commands) {
  std::vector<std::string> words;
  std::string settings;
  std::string operands;
  for (const tool::ToolCommand& command : commands) {
    if (!isPlainWord(command.word)) return Status::error("command '" + std::string(command.word) + "' needs quoting");
    const std::string word(command.word);
    words.push_back(word);
    Result<CommandShape> shape = commandShape(command);
    if (!shape) return Status::error(word + ": " + shape.message());
    settings += "        " + word + ") options=\"" + joined(shape->options) + "\" values=\"" + joined(shape->values) +
                "\" subwords=\"" + joined(shape->subWords) + "\" ;;\n";
    for (const auto& [sub, rules] : shape->rules) operands += operandBranch(word + "/" + sub, rules);
  }
  std::string script(kPreamble);
  script += "    if ((COMP_CWORD == 1)); then\n"
            "        if [[ $cur == -* ]]; then\n"
            "            _tolvek_photos_library_words \"--help --version\"\n"
            "        else\n"
            "            _tolvek_photos_library_words \"" + joined(words) + " help\"\n"
            "        fi\n"
            "        return 0\n"
            "    fi\n"
            "    local command=${COMP_WORDS[1]} options=\"\" values=\"\" subwords=\"\"\n"
            "    case $command in\n"
            "        help) ((COMP_CWORD == 2)) && _tolvek_photos_library_words \"" + joined(words) + "\"\n"
            "            return 0 ;;\n" + settings +
            "        *) return 0 ;;\n"
            "    esac\n";
  script += kWalk;
  script += "    case $command/$sub in\n" + operands + "    esac\n";
  script += kEnd;
  return script;
}

}  // namespace tolvek::manual
