// The recent history of one wire as a receiver sees it, and the arithmetic that samples it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "sim/hw/line/line_frame.h"

namespace sim::hw {

struct SampledCharacter {
    bool valid_start = false;  // false: the start bit had gone by mid-bit (a glitch)
    std::uint8_t data = 0;
    bool parity_error = false;
    bool framing_error = false;
    bool break_condition = false;  // every sampled slot, stop bit included, was space
    Picoseconds stop_sample = 0;   // when the stop bit was sampled
};

class FrameSampler {
public:
    void add(const LineFrame& frame);
    void clear();

    // Level of the wire at `t` (true: mark).
    bool level_at(Picoseconds t) const;
    // The first mark-to-space transition at or after `after`.
    std::optional<Picoseconds> next_falling_edge(Picoseconds after) const;
    // A character whose start bit begins at `edge`, sampled in the middle of each bit time of
    // the receiver's own format and rate.
    SampledCharacter sample(Picoseconds edge, LineFormat format, Picoseconds bit) const;

private:
    // Enough stretches for a receiver running a few times slower than its sender.
    static constexpr std::size_t capacity = 16;
    const LineFrame& at(std::size_t age) const;  // 0: newest

    std::array<LineFrame, capacity> frames_{};
    std::size_t newest_ = 0;
    std::size_t count_ = 0;
};

}  // namespace sim::hw
