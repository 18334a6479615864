// The entry of tolvek-photos: one request per process, one result document
// on standard output, exit status 0, 2 or 3.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "bundle/bundle_info.h"
#include "cli/command_table.h"
#include "cli/dispatch.h"
#include "cli/document_writer.h"
#include "app/linux_application.h"
#include "cli/utf8_decoding.h"
#include "commands/iso_date_formatter.h"
#include "platform/posix/temporary_files.h"

int main(int argc, char** argv) {
  // A reader that has gone away must not end the run with a signal: the
  // status stays the one the path decides.
  std::signal(SIGPIPE, SIG_IGN);
  // Files written under temporary names go with the process, also when it is
  // ended by SIGTERM, SIGHUP or SIGINT.
  tolvek::installTemporaryFileCleanup();

  // The two process-wide values, in this order.
  const tolvek::IsoDateFormatter iso;
  const std::vector<std::string> arguments = tolvek::decodeArguments(argc, argv);

  // Nothing else is built on this path: no library, no access check.
  if (arguments.empty()) tolvek::fail(tolvek::kUsageCode, tolvek::programUsage(), tolvek::kExitUsage);

  const auto application = tolvek::makeLinuxApplication(iso, tolvek::embeddedBundleInfo());
  const tolvek::DispatchResult result = tolvek::dispatch(arguments, *application);
  tolvek::emit(result.document);
  return result.status;
}
