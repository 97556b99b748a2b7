// Numbers as lab users type them: 0x3f8, 1843200, 0b1011, 0o17; times with units (150us, 10ms,
// 2s); sizes with units (64K, 1MiB).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/hw/virtual_time.h"
#include "tools/serial-lab/status.h"

namespace lab {

// An unsigned number no greater than `max`. "what" names it in the error ("port", "value").
Expected<std::uint64_t> parse_number(std::string_view text, std::string_view what,
                                     std::uint64_t max = UINT64_MAX);

// A duration: a number followed by ns, us, ms, s or min. A bare number is refused: "run 10"
// could mean anything.
Expected<sim::hw::Duration> parse_duration(std::string_view text);

// A byte count: a number with an optional K/KiB, M/MiB suffix (powers of 1024) or B.
Expected<std::uint64_t> parse_size(std::string_view text);

// "86.8us", "2.000s": the shortest readable form of a virtual time.
std::string format_duration(sim::hw::Duration duration);

}  // namespace lab
