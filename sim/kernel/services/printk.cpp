// The kernel log and stack dumps.
#include "drivers/serial/kernel/printk.h"

#include <execinfo.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "sim/kernel/base/symbolize.h"
#include "sim/kernel/machine.h"

extern "C" int printk(const char* format, ...) {
    std::array<char, 1024> small{};
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small.data(), small.size(), format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return 0;
    }
    std::string text;
    if (static_cast<std::size_t>(length) < small.size()) {
        text.assign(small.data(), static_cast<std::size_t>(length));
    } else {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    sim::kernel::Machine::current().log().write(text);
    return length;
}

extern "C" void dump_stack(void) {
    std::array<void*, 64> frames{};
    const int depth = backtrace(frames.data(), static_cast<int>(frames.size()));
    sim::kernel::KernelLog& log = sim::kernel::Machine::current().log();
    log.write("Call Trace:\n");
    // Frame 0 is dump_stack itself.
    for (int i = 1; i < depth; ++i) {
        // A return address points past the call; step back into it to name the caller.
        const auto* address = static_cast<const char*>(frames[static_cast<std::size_t>(i)]) - 1;
        log.write(fmt::format(" [<{:016x}>] {}\n", reinterpret_cast<std::uintptr_t>(address),
                              sim::kernel::describe_address(address)));
    }
}
