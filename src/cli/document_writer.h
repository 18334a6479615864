#pragma once
// Writing the one result document of a run straight to the standard-output
// descriptor: no buffer of our own, nothing ever to standard error.
#include <sys/types.h>

#include <string_view>

#include "commands/document.h"

namespace tolvek {

// The write(2) the writer uses; tests substitute one that writes in pieces
// or is interrupted.
using WriteFunction = ssize_t (*)(int fd, const void* bytes, std::size_t count);

// Writes all of `bytes` to `fd`, continuing after partial writes and after
// EINTR. False when a write fails otherwise (closed pipe, bad descriptor) or
// makes no progress; the bytes not yet written are then given up.
bool writeFully(int fd, std::string_view bytes, WriteFunction write);
bool writeFully(int fd, std::string_view bytes);

// Writes the bytes of `document`, then a single line feed as a second,
// separate write, to `fd`. A failed write is not reported: the run's exit
// status is decided by its path, not by its output channel.
void emitTo(int fd, const ResultDocument& document, WriteFunction write);

// emitTo on standard output. Returns to the caller.
void emit(const ResultDocument& document);

// Writes the error document {"error": code, "message": message} as emit does
// and ends the process with `status`.
[[noreturn]] void fail(std::string_view code, std::string_view message, int status);

}  // namespace tolvek
