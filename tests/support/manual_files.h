#pragma once
// The manual pages and the bash completion the build makes from the command
// tables (tools/manual/), and what groff and bash make of them.
#include <string>
#include <vector>

namespace tolvek::testing {

// Where the build puts them: share/man/man1/*.1 and
// share/bash-completion/completions/tolvek-photos-library.
std::string builtShareFolder();
std::string builtManualPage(const std::string& name);  // "tolvek-photos" gives .../man1/tolvek-photos.1
std::string builtCompletion();

// Whether groff and bash are installed; a test without them skips.
bool hasGroff();
bool hasBash();

// A page rendered by groff as plain ASCII text with every warning on.
struct RenderedPage {
  std::string text;
  std::string warnings;  // groff's standard error: empty for a sound page
  int exitStatus = -1;
};
RenderedPage renderManualPage(const std::string& path);

// The lines of `text` from the one after the heading `section` ("SYNOPSIS")
// up to the next heading, each without its indent.
std::vector<std::string> sectionLines(const std::string& text, const std::string& section);

// What the completion `script`, sourced by a bash without start-up files,
// offers when the last of `words` (words[0] is the program) is completed, in
// `workingDirectory` (empty: the caller's). The function comes from what the
// script registered with `complete -F` for tolvek-photos-library; a script
// that registers none fails the test.
std::vector<std::string> completionsOf(const std::string& script, const std::vector<std::string>& words,
                                       const std::string& workingDirectory = {});

}  // namespace tolvek::testing
