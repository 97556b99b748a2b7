// End to end against the chip models: a process sets a rate and a framing, writes, and the
// characters appear on the wire at that rate (as closely as the programmed divisor can get)
// with that framing; a far end set the same way reads them without errors, and what it sends
// back is read by the process without errors.
#include <gtest/gtest.h>

#include <chrono>
#include <cctype>
#include <cmath>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "line_port.h"
#include "sim/hw/line/host_endpoint.h"

namespace driver_test {
namespace {

using namespace std::chrono_literals;
using sim::hw::LineFormat;
using sim::hw::Parity;
using sim::hw::UartModel;

struct Rate {
    tcflag_t code;
    unsigned int bits_per_second;
};

// The customary rates a PC-style crystal divides to.
constexpr Rate standard_rates[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

struct Framing {
    const char* name;
    tcflag_t cflag;
    LineFormat format;
};

constexpr Framing framings[] = {
    {"8N1", CS8, {8, Parity::none, 2}},
    {"7E1", CS7 | PARENB, {7, Parity::even, 2}},
    {"8O2", CS8 | PARENB | PARODD | CSTOPB, {8, Parity::odd, 4}},
    {"5N15", CS5 | CSTOPB, {5, Parity::none, 3}},
    {"6M1", CS6 | PARENB | PARODD | CMSPAR, {6, Parity::mark, 2}},
    {"7S2", CS7 | PARENB | CMSPAR | CSTOPB, {7, Parity::space, 4}},
};

struct RateCase {
    UartModel model;
    std::uint32_t clock_hz;
    Rate rate;
    Framing framing;
    // How far from the asked rate the line may be, in divisor steps: half a step is the
    // rounding to the nearest divisor; the 16C952 revision 1 quirk adds up to one more.
    double divisor_steps;
};

void PrintTo(const RateCase& c, std::ostream* out) {
    *out << sim::hw::uart_preset(c.model).features.part << " at " << c.rate.bits_per_second << " bit/s "
         << c.framing.name;
}

std::vector<RateCase> rate_cases() {
    std::vector<RateCase> cases;
    std::size_t next_framing = 0;
    auto add = [&](UartModel model, std::uint32_t clock, unsigned lowest, unsigned highest, double steps) {
        for (const Rate& rate : standard_rates) {
            if (rate.bits_per_second < lowest || rate.bits_per_second > highest) continue;
            cases.push_back({model, clock, rate, framings[next_framing++ % std::size(framings)], steps});
        }
    };
    add(UartModel::ns16550a, 1'843'200, 50, 115200, 0.5);
    add(UartModel::ox16c950, 14'745'600, 50, 921600, 0.5);
    // The sample clock carries the 16C950 past clock / 16.
    add(UartModel::ox16c950, 1'843'200, 115200, 460800, 0.5);
    // Parts whose settings go through a register bank or a mode bit of their own.
    add(UartModel::ns_pc8733x, 0, 300, 921600, 0.5);
    add(UartModel::pxa_xscale, 0, 9600, 921600, 0.5);
    add(UartModel::ti16c750, 0, 9600, 115200, 0.5);
    add(UartModel::st16c650v2, 0, 9600, 115200, 0.5);
    // 1200 bit/s on 4.9152 MHz is divisor 0x0100, which this revision cannot count.
    add(UartModel::ox16c952_rev1, 4'915'200, 1200, 1200, 1.5);
    return cases;
}

std::string case_name(const testing::TestParamInfo<RateCase>& info) {
    std::string key(sim::hw::uart_preset(info.param.model).key);
    for (char& ch : key) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    const std::uint32_t clock = info.param.clock_hz != 0 ? info.param.clock_hz
                                                         : sim::hw::uart_preset(info.param.model).features.clock_hz;
    return key + "_" + std::to_string(clock) + "Hz_" +
           std::to_string(info.param.rate.bits_per_second) + "_" + info.param.framing.name;
}

class LineRate : public testing::TestWithParam<RateCase> {};

TEST_P(LineRate, CharactersCrossAtTheAskedRateAndFraming) {
    const RateCase& c = GetParam();
    const unsigned rate = c.rate.bits_per_second;
    const LineFormat format = c.framing.format;
    LinePort lp({.model = c.model, .clock_hz = c.clock_hz});
    ASSERT_TRUE(lp.ready());
    auto& core = lp.dm.core();
    const auto file = core.open(lp.device());
    ASSERT_TRUE(file.ok()) << file.error();
    ASSERT_EQ(core.set_termios(*file, line_settings(c.rate.code, c.framing.cflag)), 0);
    lp.dm.machine.run_for(10ms);
    ASSERT_EQ(core.flush(*file, sim::kernel::FlushQueues::both), 0);

    sim::hw::HostEndpoint far_end(lp.dm.machine.events(), {rate, format});
    far_end.set_frame_log(true);
    far_end.connect(lp.chip());

    const unsigned char data_mask = static_cast<unsigned char>((1u << format.data_bits) - 1);
    std::vector<unsigned char> payload;
    for (unsigned char byte : {0x55, 0xa3, 0x0f, 0xf0}) payload.push_back(byte & data_mask);
    // Twice the time the characters take on the line, and time for a port that the backup
    // timer serves (its period is over 50 ticks) to be served twice.
    const auto line_time = std::chrono::nanoseconds(
        2 * payload.size() * format.frame_half_bits() * 500'000'000ull / rate) + 600ms;

    // Out: the chip's frames as the far end sees them.
    ASSERT_EQ(*core.write(*file, payload), payload.size());
    ASSERT_TRUE(lp.dm.machine.run_until([&] { return far_end.received().size() >= payload.size(); }, line_time))
        << "only " << far_end.received().size() << " characters arrived";
    EXPECT_EQ(far_end.received_bytes(), std::vector<std::uint8_t>(payload.begin(), payload.end()));
    for (const sim::hw::CapturedCharacter& got : far_end.received()) {
        EXPECT_FALSE(got.parity_error || got.framing_error || got.break_condition)
            << "character 0x" << std::hex << unsigned{got.data};
    }

    const unsigned divisor = lp.chip().divisor();
    ASSERT_NE(divisor, 0u);
    const double asked_bit_ps = 1e12 / rate;
    unsigned frames = 0;
    for (const sim::hw::LineFrame& frame : far_end.frames()) {
        if (frame.slots == 0) continue;  // a level change, not a character
        ++frames;
        EXPECT_EQ(frame.slots, format.sampled_slots()) << "start, data, parity and stop bits";
        EXPECT_EQ(frame.length, format.frame_time(frame.bit)) << "stop bits";
        const double off = std::abs(static_cast<double>(frame.bit) - asked_bit_ps) / static_cast<double>(frame.bit);
        EXPECT_LE(off, c.divisor_steps / divisor + 1e-6)
            << "bit time " << frame.bit << " ps for " << rate << " bit/s with divisor " << divisor;
    }
    EXPECT_EQ(frames, payload.size());

    // In: the far end sends, the process reads.
    far_end.send(std::span<const std::uint8_t>(payload.data(), payload.size()));
    const auto got = core.read(*file, {.max = 64, .min = payload.size(), .limit = line_time});
    ASSERT_TRUE(got.ok()) << got.error();
    EXPECT_EQ(got->bytes, payload);
    EXPECT_EQ(got->flags, std::vector<char>(payload.size(), TTY_NORMAL));
    const auto counters = core.get_counters(*file);
    ASSERT_TRUE(counters.ok());
    EXPECT_EQ(counters->frame_errors + counters->parity_errors + counters->overruns + counters->breaks, 0u);

    far_end.disconnect();
    EXPECT_EQ(core.close(*file), 0);
}

INSTANTIATE_TEST_SUITE_P(StandardRates, LineRate, testing::ValuesIn(rate_cases()), case_name);

}  // namespace
}  // namespace driver_test
