#pragma once
// Text turned into man(7) roff for the manual pages: what the terminal
// shows is the text as written, whatever characters it holds.
#include <string>
#include <string_view>

namespace tolvek::manual {

// One line of running text: a backslash as \e, a hyphen that starts an
// option or a lone "-" (and every hyphen of that word) as \-, an ellipsis as
// three dots, another character outside ASCII as \[uXXXX] (a byte that is not
// UTF-8 as U+FFFD), \% before
// a word with another hyphen (never broken there), and \& before a leading
// dot or apostrophe, which would make the line a request.
std::string roffText(std::string_view line);

// A usage ("album create TITLE | --untitled", "list [albumId] [limit]"):
// its command words and options in bold, its operands in italics (names in
// capitals, or inside brackets or angle brackets), the punctuation as is.
std::string roffUsage(std::string_view usage);

// A command's help as paragraphs: each starts with .PP; a blank line starts
// the next. A line indented by two spaces whose term is followed by two
// spaces ("  --album ALBUM_ID   also add ...") is an entry of a list (.TP,
// indented as the help indents it), its continued lines (indented further)
// joined to it.
std::string roffParagraphs(std::string_view help);

// `text` as an argument of a request (.TH, .SS): in double quotes, a quote
// inside as \(dq.
std::string roffArgument(std::string_view text);

}  // namespace tolvek::manual
