// tolvek-photos-library(1).
#include "command_table.h"
#include "pages.h"
#include "roff.h"
#include "tool_commands.h"

namespace tolvek::manual {
namespace {

// The program's name as roff, its hyphens the ones typed.
constexpr std::string_view kProgram = "tolvek\\-photos\\-library";

constexpr std::string_view kDescription =
    R"(.B tolvek\-photos\-library
keeps the per\-user photo library that
.BR tolvek\-photos (1)
reads.
Most pictures stay where they are: a
.I source
is a folder whose pictures, videos and audio files the library references in place, or the
database of another photo manager (Shotwell, digiKam); files in sources are only ever read.
Files can also be imported: the library then keeps a copy of its own.
.PP
Each command writes what it found on standard output, one line per item, its fields separated
by tabs (in a field a tab, line feed and backslash are written as \et, \en and \e\e, other control
characters and bytes that are not UTF\-8 as \exHH), and its errors on standard error.
Where a command takes asset identifiers, an ASSET_ID of \- reads them from standard input,
one a line.
Every command takes \fB\-\-help\fR.
)";

constexpr std::string_view kOptions =
    R"(.SH OPTIONS
.TP
.BR \-\-help ", " \-h
Print the overview of the commands, or after a command word that command's help.
.TP
.B \-\-version
Print the version.
)";

constexpr std::string_view kEnvironment =
    R"(.SH ENVIRONMENT
.TP
.B XDG_DATA_HOME
The library lives in \fI$XDG_DATA_HOME/tolvek\-photos/Library\fR; when unset or not an absolute
path, \fI$HOME/.local/share\fR stands for it. Shotwell's database is looked for below it too.
.TP
.B XDG_CONFIG_HOME
Holds \fIuser\-dirs.dirs\fR, which names the Pictures folder the first sync adds, digiKam's
\fIdigikamrc\fR, and the user services that \fBwatch \-\-install\fR writes
(\fIsystemd/user\fR); when unset or not an absolute path, \fI$HOME/.config\fR stands for it.
.TP
.B HOME
The home folder, below which the defaults above lie.
)";

constexpr std::string_view kFiles =
    R"(.SH FILES
.TP
.I $XDG_DATA_HOME/tolvek\-photos/Library
The library folder (\fBpath\fR prints it): the catalog \fIcatalog.sqlite\fR, the copies of
imported files in \fIoriginals\fR, the thumbnails' pictures in \fIderivatives\fR, and the locks
\fIwriter.lock\fR and \fIsources.lock\fR.
.TP
.I $XDG_DATA_HOME/tolvek\-photos/access.ini
The answer to tolvek\-photos' request for access, as \fBaccess\fR records it.
.TP
.I /usr/lib/systemd/user/tolvek\-photos\-watch.service
The user service that runs \fBwatch\fR, as installed with the tool.
.TP
.I $XDG_CONFIG_HOME/systemd/user/tolvek\-photos\-watch.service
The user service that \fBwatch \-\-install\fR writes and \fBwatch \-\-uninstall\fR removes.
)";

constexpr std::string_view kSeeAlso =
    R"(.SH SEE ALSO
.BR tolvek\-photos (1),
.BR systemctl (1)
)";

std::string synopsis() {
  std::string text = ".SH SYNOPSIS\n.nf\n";
  const std::string program = "\\fB" + std::string(kProgram) + "\\fR ";
  for (const std::string& usage : tool::overviewUsages()) text += program + roffUsage(usage) + "\n";
  text += program + roffUsage("--help") + "\n";
  text += program + roffUsage("--version") + "\n";
  return text + ".fi\n";
}

// One subsection: the command's usages, each with its line of the overview,
// then its help.
std::string commandSection(std::string_view word, std::string_view summary, std::string_view help) {
  std::string text = ".SS " + roffArgument(word) + "\n";
  for (const tool::SummaryEntry& entry : tool::summaryEntries(summary)) {
    // The description on a line of its own even after a short usage.
    text += taggedParagraph(roffUsage(entry.usage), ".br\n" + roffText(entry.description));
  }
  if (!help.empty()) text += roffParagraphs(help);
  return text;
}

std::string exitStatus() {
  return ".SH EXIT STATUS\n" +
         taggedParagraph(".B " + std::to_string(tool::kExitOk),
                         "Done, files skipped as no picture, video or audio file and content the library "
                         "already has included.") +
         taggedParagraph(".B " + std::to_string(tool::kExitFailure),
                         "Something asked for could not be done (the message says what), or a sync met a file "
                         "it could not read or a source that is offline.") +
         taggedParagraph(".B " + std::to_string(tool::kExitUsage), "The command line was wrong.");
}

}  // namespace

std::string taggedParagraph(std::string_view tag, std::string_view text) {
  return ".TP\n" + std::string(tag) + "\n" + std::string(text) + "\n";
}

std::string toolManualPage(std::string_view version) {
  std::string page = ".\\\" Made from the tool's command table when the tool is built; do not edit.\n";
  page += ".TH TOLVEK\\-PHOTOS\\-LIBRARY 1 \"\" " + roffArgument("tolvek-photos " + std::string(version)) +
          " \"User Commands\"\n";
  page += ".nh\n";  // no hyphen inside names and documents that a reader may type
  page += ".SH NAME\n" + std::string(kProgram) + " \\- keep the photo library that tolvek\\-photos reads\n";
  page += synopsis();
  page += ".SH DESCRIPTION\n";
  page += kDescription;
  page += ".SH COMMANDS\n";
  for (const tool::ToolCommand& command : tool::toolCommands()) {
    page += commandSection(command.word, command.summary, command.help);
  }
  page += commandSection("help", tool::helpSummary(), "");
  page += kOptions;
  page += kEnvironment;
  page += kFiles;
  page += exitStatus();
  page += kSeeAlso;
  return page;
}

}  // namespace tolvek::manual
