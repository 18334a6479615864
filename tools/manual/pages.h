#pragma once
// The manual pages, man(7) roff made from the command tables: what each
// command is, how it is called and what it does come from its row; the
// sections only a manual has (environment, files, exit statuses) are
// written here once.
#include <string>
#include <string_view>

namespace tolvek::manual {

// tolvek-photos-library(1): every usage of the tool's table, each command's
// usages, summary and help.
std::string toolManualPage(std::string_view version);

// tolvek-photos(1): the helper's commands from its table, its documents,
// argument rules and exit statuses.
std::string helperManualPage(std::string_view version);

// A tagged paragraph: .TP, the tag line, then the text (already roff).
std::string taggedParagraph(std::string_view tag, std::string_view text);

}  // namespace tolvek::manual
