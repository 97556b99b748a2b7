// Fatal assertions: an invariant the code relies on is broken, and going on would corrupt
// kernel state. The message names the source position; then the machine stops.
#pragma once

#include "drivers/serial/kernel/printk.h"

extern "C" {
// Stops the machine after a broken invariant at `file`:`line`. Does not return.
[[noreturn]] void __bug(const char* file, int line);
}

// The position defaults to the caller's, so a call site reads `bug_on(head == nullptr);`.
inline void bug_on(bool broken, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (broken) {
        printk("<0>kernel BUG at %s:%d!\n", file, line);
        __bug(file, line);
    }
}
