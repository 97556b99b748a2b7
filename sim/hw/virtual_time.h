// Virtual time of a simulated machine. Nothing in the simulation reads the host clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim::hw {

// A clock type for std::chrono that is never read directly: a machine's EventQueue owns "now".
struct VirtualClock {
    using rep = std::int64_t;
    using period = std::nano;
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<VirtualClock>;
    static constexpr bool is_steady = true;
};

using Duration = VirtualClock::duration;
using TimePoint = VirtualClock::time_point;

}  // namespace sim::hw
