// What travels on one direction of a serial data wire: characters as frames of bit slots in
// virtual time. A receiver decodes them by sampling the levels at its own bit times, so a
// receiver set differently from the sender sees the errors real hardware would.
#pragma once

#include <cstdint>
#include <limits>

#include "sim/hw/virtual_time.h"

namespace sim::hw {

// Bit times are kept in picoseconds: 1.8432 MHz / 16 gives 8680.555... ns per bit, and whole
// nanoseconds would let two ends that agree on the rate drift apart over a long transfer.
using Picoseconds = std::int64_t;
inline constexpr Picoseconds picoseconds_per_second = 1'000'000'000'000;

inline constexpr Picoseconds to_picoseconds(TimePoint t) { return t.time_since_epoch().count() * 1000; }
// The first nanosecond at or after `ps`.
inline constexpr TimePoint ceil_to_time(Picoseconds ps) {
    return TimePoint{Duration{ps >= 0 ? (ps + 999) / 1000 : ps / 1000}};
}

enum class Parity : std::uint8_t { none, odd, even, mark, space };

// Character framing as the UART's line control register encodes it.
struct LineFormat {
    std::uint8_t data_bits = 8;        // 5 to 8
    Parity parity = Parity::none;
    std::uint8_t stop_half_bits = 2;   // 2: one stop bit; 3: one and a half; 4: two

    // LCR bits 1-0 word length, 0x04 extra stop (1.5 for 5-bit words), 0x08 parity enable,
    // 0x10 even parity, 0x20 stick parity (mark when not even, space when even).
    static constexpr LineFormat from_lcr(std::uint8_t lcr) {
        LineFormat format;
        format.data_bits = static_cast<std::uint8_t>(5 + (lcr & 0x03));
        format.stop_half_bits = (lcr & 0x04) ? (format.data_bits == 5 ? 3 : 4) : 2;
        if (lcr & 0x08) {
            const bool even = lcr & 0x10;
            if (lcr & 0x20) format.parity = even ? Parity::space : Parity::mark;
            else format.parity = even ? Parity::even : Parity::odd;
        }
        return format;
    }

    constexpr unsigned parity_bits() const { return parity == Parity::none ? 0u : 1u; }
    // Start, data, parity and the first stop bit: the slots a receiver samples.
    constexpr unsigned sampled_slots() const { return 1u + data_bits + parity_bits() + 1u; }
    constexpr unsigned frame_half_bits() const {
        return 2u * (1u + data_bits + parity_bits()) + stop_half_bits;
    }
    constexpr Picoseconds frame_time(Picoseconds bit) const { return bit * frame_half_bits() / 2; }

    friend constexpr bool operator==(const LineFormat&, const LineFormat&) = default;
};

inline constexpr LineFormat format_8n1{};

// The parity bit that goes with `data` under `parity` (none: 0, unused).
constexpr unsigned parity_bit(std::uint8_t data, unsigned data_bits, Parity parity) {
    unsigned ones = 0;
    for (unsigned i = 0; i < data_bits; ++i) ones += (data >> i) & 1u;
    switch (parity) {
        case Parity::odd: return (ones & 1u) ? 0u : 1u;
        case Parity::even: return ones & 1u;
        case Parity::mark: return 1u;
        case Parity::space:
        case Parity::none: return 0u;
    }
    return 0u;
}

// One stretch of the wire, from the falling edge of a start bit (or the start of a break) on.
// Slot i lies at [start + i*bit, start + (i+1)*bit) and has level bit i of `levels` (slot 0 is
// the start bit). After the slots and until `length`, the line holds `tail_level`; after that it
// idles at mark until the next stretch. A newer stretch overrides an older one from its start.
struct LineFrame {
    Picoseconds start = 0;
    Picoseconds bit = 0;
    Picoseconds length = 0;
    std::uint16_t levels = 0;
    std::uint8_t slots = 0;
    bool tail_level = true;

    constexpr Picoseconds end() const { return start + length; }
};

enum class FrameFault : std::uint8_t { none, parity, framing };

// A character framed for the wire. A parity fault sends the wrong parity bit; a framing fault
// sends a space where the stop bit belongs, followed by one bit of mark so the next start bit
// is still seen.
constexpr LineFrame make_frame(std::uint8_t data, LineFormat format, Picoseconds bit, Picoseconds start,
                               FrameFault fault = FrameFault::none) {
    unsigned levels = 0;  // start bit 0 in slot 0
    unsigned slot = 1;
    for (unsigned i = 0; i < format.data_bits; ++i, ++slot) levels |= ((data >> i) & 1u) << slot;
    if (format.parity != Parity::none) {
        unsigned p = parity_bit(data, format.data_bits, format.parity);
        if (fault == FrameFault::parity) p ^= 1u;
        levels |= p << slot;
        ++slot;
    }
    const bool bad_stop = fault == FrameFault::framing;
    if (!bad_stop) levels |= 1u << slot;
    ++slot;
    LineFrame frame;
    frame.start = start;
    frame.bit = bit;
    frame.length = format.frame_time(bit) + (bad_stop ? bit : 0);
    frame.levels = static_cast<std::uint16_t>(levels);
    frame.slots = static_cast<std::uint8_t>(slot);
    frame.tail_level = true;
    return frame;
}

inline constexpr Picoseconds open_ended = std::numeric_limits<Picoseconds>::max() / 4;

// The line held at space for `length` (a break); `open_ended` until a later stretch ends it.
constexpr LineFrame make_break(Picoseconds start, Picoseconds length = open_ended) {
    LineFrame frame;
    frame.start = start;
    frame.bit = 1;
    frame.length = length;
    frame.slots = 0;
    frame.tail_level = false;
    return frame;
}

// The line back at mark from `start` on (ends an open-ended break).
constexpr LineFrame make_mark(Picoseconds start) {
    LineFrame frame;
    frame.start = start;
    frame.bit = 1;
    frame.length = 0;
    frame.slots = 0;
    frame.tail_level = true;
    return frame;
}

}  // namespace sim::hw
