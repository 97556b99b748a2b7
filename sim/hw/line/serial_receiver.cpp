#include "sim/hw/line/serial_receiver.h"

#include <algorithm>

namespace sim::hw {

SerialReceiver::SerialReceiver(EventQueue& events, Sink sink) : events_(events), sink_(std::move(sink)) {}

SerialReceiver::~SerialReceiver() {
    if (pending_ != EventId::none) events_.cancel(pending_);
}

void SerialReceiver::set_format(LineFormat format, Picoseconds bit) {
    format_ = format;
    bit_ = std::max<Picoseconds>(bit, 1);
}

bool SerialReceiver::busy() const { return pending_ != EventId::none; }

bool SerialReceiver::line_level_now() const { return line_.level_at(to_picoseconds(events_.now())); }

void SerialReceiver::frame_arrived(const LineFrame& frame) {
    line_.add(frame);
    if (!busy()) hunt(resume_);
}

void SerialReceiver::switch_source() {
    if (pending_ != EventId::none) {
        events_.cancel(pending_);
        pending_ = EventId::none;
    }
    const Picoseconds now = to_picoseconds(events_.now());
    line_.clear();
    line_.add(make_mark(now));
    resume_ = now;
}

void SerialReceiver::hunt(Picoseconds after) {
    if (busy()) return;
    const auto edge = line_.next_falling_edge(after);
    if (!edge) return;
    edge_ = *edge;
    char_format_ = format_;
    char_bit_ = bit_;
    const Picoseconds stop_sample =
        edge_ + (2 * static_cast<Picoseconds>(char_format_.sampled_slots() - 1) + 1) * char_bit_ / 2;
    const TimePoint when = std::max(ceil_to_time(stop_sample), events_.now());
    pending_ = events_.schedule_at(when, [this] { complete(); });
}

void SerialReceiver::complete() {
    pending_ = EventId::none;
    const SampledCharacter c = line_.sample(edge_, char_format_, char_bit_);
    if (!c.valid_start) {
        // A pulse shorter than half a bit: no character, look again just past it.
        resume_ = edge_ + char_bit_ / 2;
        hunt(resume_);
        return;
    }
    // After a break the receiver waits for mark before it looks for the next start bit; the
    // falling-edge search does exactly that, since it needs mark before space.
    resume_ = c.stop_sample;
    sink_(ReceivedCharacter{c.data, c.parity_error, c.framing_error, c.break_condition});
    hunt(resume_);
}

}  // namespace sim::hw
