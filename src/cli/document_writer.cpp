#include "cli/document_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "cli/result_document.h"

namespace tolvek {

bool writeFully(int fd, std::string_view bytes, WriteFunction write) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool writeFully(int fd, std::string_view bytes) { return writeFully(fd, bytes, ::write); }

void emitTo(int fd, const ResultDocument& document, WriteFunction write) {
  writeFully(fd, document.bytes(), write);
  writeFully(fd, "\n", write);
}

void emit(const ResultDocument& document) { emitTo(STDOUT_FILENO, document, ::write); }

void fail(std::string_view code, std::string_view message, int status) {
  emit(errorResult(code, message));
  std::exit(status);
}

}  // namespace tolvek
