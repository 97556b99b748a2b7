// Line-rate arithmetic of the serial core: the rate a termios record asks for, the divisor a
// UART clock needs for it, and how long a full FIFO takes to drain.
//
// - Rates come from the CBAUD speed code (B50 .. B38400, then with CBAUDEX B57600 .. B4000000).
//   B0 asks to hang up: the line keeps running at 9600 bit/s and the settings keep their B0.
// - A rate outside what the driver can do ([min, max]) is replaced, as serial cores do, by the
//   rate of the previous settings, then by 9600 bit/s; the replacement's speed code is written
//   back into the new settings so that the caller reads back the rate actually in use. Should
//   even 9600 be out of range, the rate is pinned to the nearer bound (a plain serial core
//   would return 0 there and leave the driver dividing by it).
// - Divisor: clock / (16 x rate), rounded to nearest.
// - FIFO timeout, in ticks: the time `fifo_depth` characters take on the line at `rate`, where a
//   character is start bit + data bits + parity + stop bits, plus HZ/50 (20 ms) of margin.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "drivers/serial/kernel/termios.h"

namespace sim::kernel::baud {

struct SpeedCode {
    tcflag_t code;
    unsigned int rate;
};

inline constexpr std::array<SpeedCode, 31> speed_table{{
    {B0, 0},           {B50, 50},           {B75, 75},           {B110, 110},
    {B134, 134},       {B150, 150},         {B200, 200},         {B300, 300},
    {B600, 600},       {B1200, 1200},       {B1800, 1800},       {B2400, 2400},
    {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
    {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
}};

inline constexpr unsigned int fallback_rate = 9600;

// The rate of the speed code in `cflag`; nullopt for a code outside the table (CBAUDEX alone).
std::optional<unsigned int> rate_of(tcflag_t cflag);
// The speed code of a standard rate.
std::optional<tcflag_t> code_of(unsigned int rate);

// The rate to program, updating `new_termios`' speed code when it falls back (see above).
unsigned int choose_rate(ktermios& new_termios, const ktermios* old_termios, unsigned int min,
                         unsigned int max);

// clock / (16 x rate), rounded to nearest; 0 for rate 0.
unsigned int divisor_for(std::uint32_t uart_clock_hz, unsigned int rate);

// Bits on the line per character for the framing in `cflag`.
unsigned int bits_per_character(tcflag_t cflag);
// The FIFO timeout in ticks; nullopt for rate 0.
std::optional<std::uint32_t> fifo_timeout_ticks(tcflag_t cflag, std::uint32_t fifo_depth,
                                                unsigned int rate, unsigned int hz);

}  // namespace sim::kernel::baud
