#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

// The one way a step of marlwood says it failed: a value or an Error, carried up to the front end
// that words it. Nothing below the front ends prints a failure or throws one for control.
namespace marlwood {

// What the front ends do with a failure: most fail the step (the command line's exit status 1); a
// heightmap's shape that cannot be written as asked (Unity's squares, tiles that do not split) is
// worded as the usage error it is (exit status 2).
// Absent: what was asked for does not exist (a tile a server has not), which a caller may pass
// over when others stand in for it.
enum class ErrorKind { Failed, UsageShape, Absent };

// What went wrong, in one line without a trailing newline. `subject` is what the line is about
// when a front end words it its own way (the dialogue's "**Cannot open<path>**"); often empty.
struct Error {
    std::string message;
    ErrorKind kind = ErrorKind::Failed;
    std::string subject = {};
};

inline Error failure(std::string message, ErrorKind kind = ErrorKind::Failed) {
    return Error{std::move(message), kind};
}

// A failure about `subject`, which a front end may word in its own way.
inline Error failureAbout(std::string message, std::string subject) {
    return Error{std::move(message), ErrorKind::Failed, std::move(subject)};
}

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
    Result(Error error) : held_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const { return held_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(held_); }
    const T& value() const { return std::get<0>(held_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The value, or `fallback` when there is none.
    T value_or(T fallback) const { return ok() ? value() : std::move(fallback); }

    const Error& error() const { return std::get<1>(held_); }
    const std::string& message() const { return error().message; }

  private:
    std::variant<T, Error> held_;
};

// A step that gives nothing back but may fail.
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}  // NOLINT: implicit

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }
    const std::string& message() const { return error_->message; }

  private:
    std::optional<Error> error_;
};
using Status = Result<void>;

}  // namespace marlwood
