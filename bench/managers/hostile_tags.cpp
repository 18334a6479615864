// Adds a hostile tag tree (tests/support/manager_fixture.h) to a digiKam
// database, for hostile_tags.sh:
//   hostile_tags DATABASE [--chain N] [--loop N] [--long-name BYTES]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/manager_fixture.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: hostile_tags DATABASE [--chain N] [--loop N] [--long-name BYTES]\n");
    return 2;
  }
  tolvek::testing::HostileTags tags;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--chain") == 0) tags.chain = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--loop") == 0) tags.loop = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--long-name") == 0) tags.longName = std::atoll(argv[i + 1]);
  }
  const tolvek::Status written = tolvek::testing::writeHostileDigikamTags(argv[1], tags);
  if (!written) std::fprintf(stderr, "%s\n", written.message().c_str());
  return written ? 0 : 1;
}
