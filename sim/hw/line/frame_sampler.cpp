#include "sim/hw/line/frame_sampler.h"

namespace sim::hw {

namespace {

bool frame_level(const LineFrame& f, Picoseconds t) {
    const Picoseconds offset = t - f.start;
    if (offset >= f.length) return true;
    const Picoseconds slot = offset / f.bit;
    if (slot < f.slots) return (f.levels >> slot) & 1u;
    return f.tail_level;
}

}  // namespace

void FrameSampler::add(const LineFrame& frame) {
    newest_ = (newest_ + 1) % capacity;
    frames_[newest_] = frame;
    if (count_ < capacity) ++count_;
}

void FrameSampler::clear() { count_ = 0; }

const LineFrame& FrameSampler::at(std::size_t age) const {
    return frames_[(newest_ + capacity - age) % capacity];
}

bool FrameSampler::level_at(Picoseconds t) const {
    for (std::size_t age = 0; age < count_; ++age) {
        const LineFrame& f = at(age);
        if (f.start <= t) return frame_level(f, t);
    }
    return true;
}

std::optional<Picoseconds> FrameSampler::next_falling_edge(Picoseconds after) const {
    auto is_edge = [this](Picoseconds c) { return level_at(c) == false && level_at(c - 1) == true; };
    for (std::size_t age = count_; age-- > 0;) {
        const LineFrame& f = at(age);
        if (f.end() <= after && f.start < after) continue;
        if (f.start >= after && is_edge(f.start)) return f.start;
        for (unsigned slot = 1; slot <= f.slots; ++slot) {
            const bool before = (f.levels >> (slot - 1)) & 1u;
            const bool now = slot < f.slots ? ((f.levels >> slot) & 1u) : f.tail_level;
            if (!before || now) continue;
            const Picoseconds c = f.start + static_cast<Picoseconds>(slot) * f.bit;
            if (c >= after && c < f.end() && is_edge(c)) return c;
        }
    }
    return std::nullopt;
}

SampledCharacter FrameSampler::sample(Picoseconds edge, LineFormat format, Picoseconds bit) const {
    SampledCharacter result;
    auto sample_slot = [&](unsigned slot) { return level_at(edge + (2 * static_cast<Picoseconds>(slot) + 1) * bit / 2); };
    bool any_mark = false;
    if (sample_slot(0)) {
        result.valid_start = false;
        return result;
    }
    result.valid_start = true;
    unsigned slot = 1;
    for (unsigned i = 0; i < format.data_bits; ++i, ++slot) {
        const bool level = sample_slot(slot);
        any_mark |= level;
        result.data = static_cast<std::uint8_t>(result.data | (static_cast<unsigned>(level) << i));
    }
    if (format.parity != Parity::none) {
        const bool level = sample_slot(slot++);
        any_mark |= level;
        const bool expected = parity_bit(result.data, format.data_bits, format.parity) != 0;
        result.parity_error = level != expected;
    }
    const bool stop = sample_slot(slot);
    result.stop_sample = edge + (2 * static_cast<Picoseconds>(slot) + 1) * bit / 2;
    result.framing_error = !stop;
    result.break_condition = !stop && !any_mark;
    return result;
}

}  // namespace sim::hw
