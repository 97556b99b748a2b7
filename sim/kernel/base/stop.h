// Stopping the machine: the substitute caught a kernel bug (a lock misused, a sleeping call in
// atomic context, a corrupted list, a timer that was never set up). A real kernel would hang or
// corrupt memory; here the machine stops at once with a message that says what and where.
#pragma once

#include <functional>
#include <source_location>
#include <string>
#include <string_view>

namespace sim::kernel {

// Prints "kernel stopped at <file>:<line> (<function>): <message>" on stderr and aborts.
[[noreturn]] void stop_machine(std::string_view message,
                               std::source_location where = std::source_location::current());

// Called with the message just before the machine stops, e.g. to show the kernel log first.
void set_stop_hook(std::function<void(std::string_view message)> hook);

}  // namespace sim::kernel
