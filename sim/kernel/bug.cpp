// The kernel's fatal-assertion service: a module found one of its own invariants broken. The
// module has logged the position already; the machine stops with the same position in its
// message, since the log may never be read.
#include <string>

#include "drivers/serial/kernel/bug.h"
#include "sim/kernel/base/stop.h"

extern "C" [[noreturn]] void __bug(const char* file, int line) {
    std::string message = "kernel BUG at ";
    message += file != nullptr ? file : "(unknown file)";
    message += ':';
    message += std::to_string(line);
    message += '!';
    sim::kernel::stop_machine(message);
}
