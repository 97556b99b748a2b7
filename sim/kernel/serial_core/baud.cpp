#include "sim/kernel/serial_core/baud.h"

#include <algorithm>

namespace sim::kernel::baud {

std::optional<unsigned int> rate_of(tcflag_t cflag) {
    const tcflag_t code = cflag & CBAUD;
    for (const SpeedCode& entry : speed_table)
        if (entry.code == code) return entry.rate;
    return std::nullopt;
}

std::optional<tcflag_t> code_of(unsigned int rate) {
    for (const SpeedCode& entry : speed_table)
        if (entry.rate == rate) return entry.code;
    return std::nullopt;
}

namespace {

void write_speed_code(ktermios& termios, unsigned int rate) {
    if (const auto code = code_of(rate)) termios.c_cflag = (termios.c_cflag & ~CBAUD) | *code;
}

bool within(unsigned int rate, unsigned int min, unsigned int max) {
    return rate != 0 && rate >= min && rate <= max;
}

unsigned int pinned(unsigned int rate, unsigned int min, unsigned int max) {
    if (max < min) return max;
    return std::clamp(rate, min, max);
}

}  // namespace

unsigned int choose_rate(ktermios& new_termios, const ktermios* old_termios, unsigned int min,
                         unsigned int max) {
    const auto asked = rate_of(new_termios.c_cflag);
    if (asked == 0u) {
        // B0: the line is being hung up; keep it at the fallback rate and leave the settings be.
        return within(fallback_rate, min, max) ? fallback_rate : pinned(fallback_rate, min, max);
    }
    if (asked && within(*asked, min, max)) return *asked;

    if (old_termios != nullptr) {
        const auto previous = rate_of(old_termios->c_cflag);
        if (previous && within(*previous, min, max)) {
            new_termios.c_cflag = (new_termios.c_cflag & ~CBAUD) | (old_termios->c_cflag & CBAUD);
            return *previous;
        }
    }
    const unsigned int rate =
        within(fallback_rate, min, max) ? fallback_rate : pinned(fallback_rate, min, max);
    write_speed_code(new_termios, rate);
    return rate;
}

unsigned int divisor_for(std::uint32_t uart_clock_hz, unsigned int rate) {
    if (rate == 0) return 0;
    const std::uint64_t step = 16ull * rate;
    return static_cast<unsigned int>((uart_clock_hz + step / 2) / step);
}

unsigned int bits_per_character(tcflag_t cflag) {
    unsigned int bits = 0;
    switch (cflag & CSIZE) {
    case CS5: bits = 7; break;
    case CS6: bits = 8; break;
    case CS7: bits = 9; break;
    default: bits = 10; break;
    }
    if (cflag & CSTOPB) ++bits;
    if (cflag & PARENB) ++bits;
    return bits;
}

std::optional<std::uint32_t> fifo_timeout_ticks(tcflag_t cflag, std::uint32_t fifo_depth,
                                                unsigned int rate, unsigned int hz) {
    if (rate == 0) return std::nullopt;
    const std::uint64_t bits = std::uint64_t{bits_per_character(cflag)} * fifo_depth;
    const std::uint64_t ticks = std::uint64_t{hz} * bits / rate + hz / 50;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ticks, UINT32_MAX));
}

}  // namespace sim::kernel::baud
