// tolvek-photos(1).
#include "cli/command_table.h"
#include "cli/dispatch.h"
#include "pages.h"
#include "roff.h"

namespace tolvek::manual {
namespace {

// The program's name as roff, its hyphens the ones typed.
constexpr std::string_view kProgram = "tolvek\\-photos";

constexpr std::string_view kDescription =
    R"(.B tolvek\-photos
is the helper that the Tolvek desktop application starts once per request to reach the user's
photo library. It takes a command word and its arguments, writes exactly one JSON document and a
line feed to standard output, and exits.
.PP
It reads the library that
.BR tolvek\-photos\-library (1)
keeps, opening its catalog read\-only; a missing, damaged, locked or newer library reads as empty.
Before the command word is looked at, it asks whether it may read the library: the answer that
\fBtolvek\-photos\-library access\fR recorded, else the user, with
.BR zenity (1)
in a graphical session.
.PP
The document is one compact JSON object (keys in no fixed order, every / inside a string written
as \e/, text outside ASCII as plain UTF\-8); a document that cannot be written so is written as
{}. Nothing is written to standard error. A closed standard output does not change the exit
status.
)";

constexpr std::string_view kArguments =
    R"(.SH ARGUMENTS
.IP \(bu 2
\fIids\fR is one argument, cut at every comma; empty pieces are dropped, the rest is kept as
given (spaces, duplicates, order).
.IP \(bu 2
Numbers are an optional + or \- and ASCII digits within the signed 64\-bit range; anything else
(1e3, 0x10, a leading space, digits of other scripts, an empty argument) silently means the
default. The commands bound the values themselves.
.IP \(bu 2
Arguments that are not valid UTF\-8 are decoded first, each ill\-formed sequence becoming
U+FFFD, before they are compared or passed on.
.IP \(bu 2
Words match exactly and case\-sensitively; arguments beyond those listed are ignored. There are
no options and no help or version words.
)";

constexpr std::string_view kEnvironment =
    R"(.SH ENVIRONMENT
.TP
.B XDG_DATA_HOME
The library is read from \fI$XDG_DATA_HOME/tolvek\-photos/Library\fR; when unset or not an
absolute path, \fI$HOME/.local/share\fR stands for it.
.TP
.BR DISPLAY ", " WAYLAND_DISPLAY
A graphical session, in which the user is asked for access when no answer is recorded.
)";

constexpr std::string_view kSeeAlso =
    R"(.SH SEE ALSO
.BR tolvek\-photos\-library (1)
)";

std::string program() { return "\\fB" + std::string(kProgram) + "\\fR "; }

std::string synopsis() {
  std::string text = ".SH SYNOPSIS\n.nf\n";
  for (const Command& command : commands()) text += program() + roffUsage(command.usage) + "\n";
  return text + ".fi\n";
}

std::string commandList() {
  std::string text = ".SH COMMANDS\n";
  for (const Command& command : commands()) {
    text += taggedParagraph(program() + roffUsage(command.usage), roffText(command.description));
  }
  return text;
}

// A JSON document of the exit statuses' list, in bold.
std::string document(std::string_view code, std::string_view message) {
  return "\\fB" + roffText("{\"error\":\"" + std::string(code) + "\",\"message\":" + std::string(message) + "}") +
         "\\fR";
}

std::string exitStatus() {
  return ".SH EXIT STATUS\n" +
         taggedParagraph(".B " + std::to_string(kExitSuccess),
                         "The command's document, also when it is empty or reports errors of single items.") +
         taggedParagraph(".B " + std::to_string(kExitUsage),
                         document(kUsageCode, "...") + ": no arguments (the message is \\(lq" +
                             roffText(programUsage()) + "\\(rq, and the library is not touched), an unknown word (\\(lq" +
                             roffText(kUnknownCommandPrefix) + "\\fIword\\fR\\(rq), or a command with fewer "
                             "arguments than it needs (the message is its usage).") +
         taggedParagraph(".B " + std::to_string(kExitAccessRefused),
                         document(kAccessRefusedCode, "\"" + std::string(kAccessRefusedMessage) + "\"") +
                             ": reading the library is refused; checked before the command word is looked at.");
}

}  // namespace

std::string helperManualPage(std::string_view version) {
  std::string page = ".\\\" Made from the helper's command table when it is built; do not edit.\n";
  page += ".TH TOLVEK\\-PHOTOS 1 \"\" " + roffArgument("tolvek-photos " + std::string(version)) + " \"User Commands\"\n";
  page += ".nh\n";  // no hyphen inside names and documents that a reader may type
  page += ".SH NAME\n" + std::string(kProgram) + " \\- answer one photo library request with one JSON document\n";
  page += synopsis();
  page += ".SH DESCRIPTION\n";
  page += kDescription;
  page += commandList();
  page += kArguments;
  page += exitStatus();
  page += kEnvironment;
  page += kSeeAlso;
  return page;
}

}  // namespace tolvek::manual
