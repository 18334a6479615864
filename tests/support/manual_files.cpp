#include "support/manual_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/process_runner.h"

namespace tolvek::testing {
namespace {

constexpr char kGroff[] = "/usr/bin/groff";
constexpr char kBash[] = "/bin/bash";

// Prints what the completion script offers for the words given.
constexpr char kCompleteWords[] = TOLVEK_SOURCE_DIR "/scripts/complete_words.sh";

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string builtShareFolder() { return std::string(TOLVEK_BIN_DIR) + "/../share"; }

std::string builtManualPage(const std::string& name) { return builtShareFolder() + "/man/man1/" + name + ".1"; }

std::string builtCompletion() { return builtShareFolder() + "/bash-completion/completions/tolvek-photos-library"; }

bool hasGroff() { return ::access(kGroff, X_OK) == 0; }

bool hasBash() { return ::access(kBash, X_OK) == 0; }

RenderedPage renderManualPage(const std::string& path) {
  RunOptions options;
  options.environment = {{"LC_ALL", "C"}};
  const ProcessResult run = runProcess(kGroff, {"-man", "-Tascii", "-ww", "-P-cbou", path}, options);
  return {run.out, run.err, run.exitStatus};
}

std::vector<std::string> sectionLines(const std::string& text, const std::string& section) {
  std::vector<std::string> lines;
  bool inSection = false;
  for (const std::string& line : linesOf(text)) {
    const bool heading = !line.empty() && line.front() != ' ';
    if (heading) {
      if (inSection) break;
      inSection = line == section;
      continue;
    }
    const std::size_t indent = line.find_first_not_of(' ');
    if (inSection && indent != std::string::npos) lines.push_back(line.substr(indent));
  }
  return lines;
}

std::vector<std::string> completionsOf(const std::string& script, const std::vector<std::string>& words,
                                       const std::string& workingDirectory) {
  std::vector<std::string> arguments{"--norc", "--noprofile", kCompleteWords, script};
  arguments.insert(arguments.end(), words.begin(), words.end());
  RunOptions options;
  options.workingDirectory = workingDirectory;
  const ProcessResult run = runProcess(kBash, arguments, options);
  EXPECT_EQ(run.exitStatus, 0) << "bash could not complete with " << script << ": " << run.err;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> offered = linesOf(run.out);
  // An empty reply prints one empty line.
  if (offered.size() == 1 && offered.front().empty()) offered.clear();
  return offered;
}

}  // namespace tolvek::testing
