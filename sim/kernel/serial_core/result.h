// Errors as values for the process side of the serial core: either a value or the kernel's
// negative error number, as a system call would return it.
#pragma once

#include <utility>
#include <variant>

#include "sim/kernel/base/stop.h"

namespace sim::kernel {

// A failed call's result: the kernel's negative error number (-kerr::inval, ...).
struct KernelError {
    int code;
};

template <typename T>
class KernelResult {
public:
    KernelResult(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
    KernelResult(KernelError error) : state_(error) {}   // NOLINT: implicit by design

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    // The negative error number, 0 when the call succeeded.
    int error() const { return ok() ? 0 : std::get<KernelError>(state_).code; }

    T& value() & {
        if (!ok()) stop_machine("KernelResult::value() on a failed result");
        return std::get<T>(state_);
    }
    const T& value() const& {
        if (!ok()) stop_machine("KernelResult::value() on a failed result");
        return std::get<T>(state_);
    }
    T&& value() && {
        if (!ok()) stop_machine("KernelResult::value() on a failed result");
        return std::get<T>(std::move(state_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, KernelError> state_;
};

inline KernelError kernel_error(int negative_errno) { return KernelError{negative_errno}; }

}  // namespace sim::kernel
