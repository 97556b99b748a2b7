// A UART receiver's front end: finds start bits on the wire, samples each character at its own
// rate and framing, and hands the character on at the middle of its stop bit. One event per
// character; nothing per bit.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/hw/event_queue.h"
#include "sim/hw/line/frame_sampler.h"
#include "sim/hw/line/line_frame.h"

namespace sim::hw {

struct ReceivedCharacter {
    std::uint8_t data = 0;
    bool parity_error = false;
    bool framing_error = false;
    bool break_condition = false;
};

class SerialReceiver {
public:
    using Sink = std::function<void(const ReceivedCharacter&)>;

    SerialReceiver(EventQueue& events, Sink sink);
    ~SerialReceiver();
    SerialReceiver(const SerialReceiver&) = delete;
    SerialReceiver& operator=(const SerialReceiver&) = delete;

    // Takes effect from the next start bit, as on a real UART.
    void set_format(LineFormat format, Picoseconds bit);
    LineFormat format() const { return format_; }
    Picoseconds bit_time() const { return bit_; }

    void frame_arrived(const LineFrame& frame);
    // The input was switched to another source (loopback on or off): the wire is taken as
    // idle from now, and a character being assembled is lost.
    void switch_source();

    // A character is being assembled.
    bool busy() const;
    bool line_level_now() const;

private:
    void hunt(Picoseconds after);
    void complete();

    EventQueue& events_;
    Sink sink_;
    FrameSampler line_;
    LineFormat format_{};
    Picoseconds bit_ = 8'680'556;
    LineFormat char_format_{};
    Picoseconds char_bit_ = 0;
    Picoseconds edge_ = 0;
    Picoseconds resume_ = std::numeric_limits<Picoseconds>::min() / 2;
    EventId pending_ = EventId::none;
};

}  // namespace sim::hw
