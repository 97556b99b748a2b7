// Results of lab commands: success, or one error that the session reports as one line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace lab {

// What went wrong with one line. `kernel_error` holds the negative error number when a kernel
// call refused; the message then says what was being done.
struct Error {
    std::string message;
    std::optional<int> kernel_error;
};

inline Error error(std::string message) { return Error{std::move(message), std::nullopt}; }
inline Error kernel_refused(std::string message, int negative_errno) {
    return Error{std::move(message), negative_errno};
}

// Either a value or an Error (the lab's values-for-errors rule; std::expected is C++23).
template <typename T>
class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
    Expected(Error failure) : state_(std::move(failure)) {}  // NOLINT

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

// The result of a command that yields nothing.
class Status {
public:
    Status() = default;
    Status(Error failure) : failure_(std::move(failure)) {}  // NOLINT: implicit by design
    template <typename T>
    Status(const Expected<T>& other) {  // NOLINT: carries an Expected's error over
        if (!other.ok()) failure_ = other.error();
    }

    bool ok() const { return !failure_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *failure_; }

private:
    std::optional<Error> failure_;
};

inline Status ok() { return Status{}; }

}  // namespace lab
