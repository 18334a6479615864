#pragma once
// What the completion reads from a command's usages ("album add ALBUM_ID
// ASSET_ID...", "add --shotwell|--digikam [DATABASE]"): the fixed word after
// the command, the options the usage needs and the operands it takes.
#include <string>
#include <string_view>
#include <vector>

namespace tolvek::manual {

struct UsageShape {
  // The fixed words that may follow the command word ("grant", "deny", ...
  // of "access grant|deny|restrict|reset"); none for most commands.
  std::vector<std::string> subWords;
  // Options outside brackets and not an alternative to an operand
  // ("--shotwell", "--digikam"): the usage applies when one of them is given.
  std::vector<std::string> requiredOptions;
  // The operands' names, as written ("SOURCE", "ALBUM_ID", "albumId").
  std::vector<std::string> operands;
};

// The shape of `usage`, whose first word is the command's.
UsageShape usageShape(std::string_view usage);

// What the shell offers for an operand.
enum class OperandKind { none, folder, file };  // in order of what each offers: a file offers folders too
// By the operand's name: FOLDER a folder; SOURCE, PATH, DATABASE and ASSET_ID
// (an identifier or the path of a file the library holds) a file or folder;
// every other name (albums' identifiers, titles, URLs) nothing.
OperandKind operandKind(std::string_view name);

}  // namespace tolvek::manual
