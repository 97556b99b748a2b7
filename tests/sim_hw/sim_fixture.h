// Small helpers for driving models in virtual time.
#pragma once

#include <chrono>
#include <functional>

#include "sim/hw/event_queue.h"
#include "sim/hw/uart/uart_chip.h"

namespace sim::hw::test {

using namespace std::chrono_literals;

inline void run_for(EventQueue& events, Duration d) { events.advance_to(events.now() + d); }

// Runs events until `done` holds; false if the limit of virtual time ran out first.
inline bool run_until(EventQueue& events, const std::function<bool()>& done, Duration limit = 10s) {
    const TimePoint end = events.now() + limit;
    while (!done()) {
        const auto next = events.next_event_time();
        if (!next || *next > end) return false;
        events.run_next();
    }
    return true;
}

// Divisor and framing as a driver programs them.
inline void program_line(UartChip& chip, std::uint16_t divisor, std::uint8_t lcr) {
    chip.write(3, static_cast<std::uint8_t>(lcr | 0x80));
    chip.write(0, static_cast<std::uint8_t>(divisor));
    chip.write(1, static_cast<std::uint8_t>(divisor >> 8));
    chip.write(3, lcr);
}

}  // namespace sim::hw::test
