#pragma once
// The bash completion of tolvek-photos-library, made from its command table:
// command words (and "help COMMAND"), each command's options, the fixed words
// after a command (album list|create|...) and file or folder names where a
// usage takes a path. It needs bash alone, not the bash-completion package.
#include <span>
#include <string>

#include "command_table.h"
#include "library/status.h"

namespace tolvek::manual {

// The script for `commands`. Fails when a word or option of theirs is not
// made of lower-case letters, digits and hyphens alone, as the script offers
// them unquoted.
Result<std::string> bashCompletion(std::span<const tool::ToolCommand> commands);

// The name of the script's completion function.
inline constexpr std::string_view kCompletionFunction = "_tolvek_photos_library";

}  // namespace tolvek::manual
