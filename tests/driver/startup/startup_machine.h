// What the startup suites share: the port operations called the way the serial core calls
// them, the ring of a line's chain as the interrupt handler walks it, and the timer callbacks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "driver_harness.h"
#include "trace_queries.h"

namespace driver_test {

// Open and close of a port without the process side around them, so that a test sees exactly
// what the two operations do.
inline int start_port(serial8250_uart& up) { return up.port.port_ops->startup(&up.port); }
inline void stop_port(serial8250_uart& up) { up.port.port_ops->shutdown(&up.port); }

// The members of a chain in walk order from its head; empty when the head is null. Stops after
// 64 links, so that a broken ring shows as a long walk rather than a hang.
inline std::vector<const serial8250_uart*> chain_walk(const irq_chain& entry) {
    std::vector<const serial8250_uart*> members;
    if (entry.chain_head == nullptr) return members;
    const list_head* link = entry.chain_head;
    do {
        members.push_back(uart_from_chain_link(const_cast<list_head*>(link)));
        link = link->next;
    } while (link != entry.chain_head && members.size() < 64);
    return members;
}

inline const void* timer_callback(DriverMachine& dm, std::string_view name) {
    return reinterpret_cast<const void*>(dm.symbol<void>(name));
}

inline const void* callback_of(const serial8250_uart& up) {
    return reinterpret_cast<const void*>(up.poll_timer.function);
}

}  // namespace driver_test
