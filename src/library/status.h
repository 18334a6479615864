#pragma once
// The one way an operation reports failure: a Status that is either ok or
// carries a message meant for the user ("No such file or directory", "The
// server answered 404"), and a Result that holds a value or such a Status.
// Both are [[nodiscard]], so a failure cannot be dropped without a trace.
// A failure also carries a code, for the few callers that act on it rather
// than only show the message (which always says it too): nobody decides by
// comparing message texts.
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tolvek {

// What kind of failure a Status is: `other` for most, which callers only
// report; the rest tell a caller that it must act differently.
enum class ErrorCode {
  other,
  busy,      // another process holds the lock past the wait
  notFound,  // the file (or what was asked for) is not there
  noSpace,   // no room left on the device being written
  tooLarge,  // more bytes than the limit allowed
  damaged,   // the library's catalog is damaged: nothing more may be written to it
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // ok
  static Status error(std::string message, ErrorCode code = ErrorCode::other) {
    return Status(std::move(message), code);
  }

  bool ok() const { return !message_.has_value(); }
  // `other` when ok.
  ErrorCode code() const { return code_; }
  explicit operator bool() const { return ok(); }
  // Empty when ok.
  const std::string& message() const {
    static const std::string kNone;
    return message_ ? *message_ : kNone;
  }

 private:
  Status(std::string message, ErrorCode code) : message_(std::move(message)), code_(code) {}
  std::optional<std::string> message_;
  ErrorCode code_ = ErrorCode::other;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: a value converts
  Result(Status failure) : state_(std::move(failure)) {}  // NOLINT: so does a failure (never ok)

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }
  // The value; only when ok().
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  // Ok when a value is held, else the failure.
  Status status() const { return ok() ? Status() : std::get<Status>(state_); }
  const std::string& message() const {
    static const std::string kNone;
    return ok() ? kNone : std::get<Status>(state_).message();
  }
  // `other` when ok.
  ErrorCode code() const { return ok() ? ErrorCode::other : std::get<Status>(state_).code(); }

 private:
  std::variant<T, Status> state_;
};

}  // namespace tolvek
