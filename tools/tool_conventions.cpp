#include <cstdio>

#include "tool_commands.h"

namespace tolvek::tool {

int failWith(const std::string& message) {
  std::fprintf(stderr, "tolvek-photos-library: %s\n", message.c_str());
  return 1;
}

}  // namespace tolvek::tool
