// fuzz-links: tolvek_cli tolvek_test_support
// Arbitrary command lines through decoding, dispatch, the commands on the
// in-memory library and serialisation. The input's first byte says whether
// the gate grants access (its lowest bit); the rest is split at NUL bytes
// into the raw arguments (argv cannot hold a NUL). Aborts unless every output is one JSON object, equal to the document
// that was written, followed by exactly one line feed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/dispatch.h"
#include "cli/result_document.h"
#include "cli/utf8_decoding.h"
#include "support/recording_application.h"

namespace {

using tolvek::Document;

void require(bool condition) {
  if (!condition) std::abort();
}

// One JSON object and a single line feed as the last byte; the object read back.
Document readOutput(const std::string& output) {
  require(!output.empty() && output.back() == '\n' && output.find('\n') == output.size() - 1);
  const Document parsed = Document::parse(output.substr(0, output.size() - 1), nullptr, false);
  require(parsed.is_object());
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool grant = (data[0] & 1) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> raw;
  if (!rest.empty()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t nul = rest.find('\0', start);
      raw.emplace_back(rest.substr(start, nul == std::string_view::npos ? std::string_view::npos : nul - start));
      if (nul == std::string_view::npos) break;
      start = nul + 1;
    }
  }

  std::vector<std::string> argv;
  for (const std::string& argument : raw) {
    std::string decoded = tolvek::decodeUtf8(argument);
    require(tolvek::decodeUtf8(decoded) == decoded);  // decoding leaves only well-formed text
    argv.push_back(std::move(decoded));
  }

  tolvek::testing::RecordingApplication app(grant);
  const tolvek::DispatchResult result = tolvek::dispatch(argv, app);
  require(result.status == 0 || result.status == 2 || result.status == 3);
  require(app.gateCalls == (argv.empty() ? 0 : 1));
  if (!argv.empty() && !grant) require(result.status == 3);

  // Every decoded argument is valid UTF-8, so the document must be written in full.
  const Document written = readOutput(tolvek::serializeDocument(result.document) + "\n");
  require(written == result.document);

  // Undecoded bytes either round-trip or give the empty object, never broken JSON.
  for (const std::string& argument : raw) {
    const Document document = {{"raw", argument}};
    const Document back = readOutput(tolvek::serializeDocument(document) + "\n");
    require(back == document || back.empty());
  }
  return 0;
}
