// The divisor and, on the 16C950, the sample clock: the highest rates, the high-speed divisor
// codes of some boards, the cap on the rate, and the 16C950 revision that cannot take a
// divisor whose low byte is zero.
#include <gtest/gtest.h>

#include <vector>

#include "line_port.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

// The PC crystal of 1.8432 MHz and the 4.9152 MHz crystal of some multiport cards.
constexpr std::uint32_t pc_clock_hz = 1'843'200;
constexpr std::uint32_t clock_4m9_hz = 4'915'200;

struct DivisorCase {
    const char* what;
    UartModel model;
    std::uint32_t clock_hz;
    std::uint32_t port_flags;
    tcflag_t speed;
    std::vector<RegisterAccess> writes;  // sample clock (16C950 only) and divisor latch
};

void check_divisor_case(const DivisorCase& c) {
    SCOPED_TRACE(c.what);
    LinePort lp({.model = c.model, .clock_hz = c.clock_hz, .port_flags = c.port_flags});
    ASSERT_TRUE(lp.ready());
    const auto trace = lp.apply(line_settings(c.speed));
    EXPECT_EQ(writes_among(trace, {"SCR", "ICR", "DLL", "DLM"}), c.writes);
    const auto latch = writes_among(c.writes, {"DLL", "DLM"});
    ASSERT_EQ(latch.size(), 2u);
    EXPECT_EQ(lp.chip().divisor(), *latch[1].value << 8 | *latch[0].value) << "the chip holds it";
    const auto sample_clock = writes_among(c.writes, {"ICR"});
    if (!sample_clock.empty()) {
        EXPECT_EQ(lp.chip().icr(0x02), *sample_clock[0].value);
    }
}

TEST(SampleClock, The16C950ReachesClockOverFourAndOverEightWithDivisorOne) {
    const DivisorCase cases[] = {
        {"460800 bit/s: 4 samples per bit", UartModel::ox16c950, pc_clock_hz, 0, B460800,
         {wr("SCR", 0x02), wr("ICR", 0x04), wr("DLL", 0x01), wr("DLM", 0x00)}},
        {"230400 bit/s: 8 samples per bit", UartModel::ox16c950, pc_clock_hz, 0, B230400,
         {wr("SCR", 0x02), wr("ICR", 0x08), wr("DLL", 0x01), wr("DLM", 0x00)}},
        {"115200 bit/s: the usual 16 samples", UartModel::ox16c950, pc_clock_hz, 0, B115200,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x01), wr("DLM", 0x00)}},
        {"57600 bit/s: the usual 16 samples, divisor 2", UartModel::ox16c950, pc_clock_hz, 0, B57600,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x02), wr("DLM", 0x00)}},
        // Beyond clock / 4 the serial core falls back to 9600 bit/s.
        {"921600 bit/s is beyond the part", UartModel::ox16c950, pc_clock_hz, 0, B921600,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x0c), wr("DLM", 0x00)}},
        {"16550A: 230400 bit/s is beyond clock / 16", UartModel::ns16550a, pc_clock_hz, 0, B230400,
         {wr("DLL", 0x0c), wr("DLM", 0x00)}},
    };
    for (const DivisorCase& c : cases) check_divisor_case(c);
}

TEST(RateLimit, ARateBeyondThePartKeepsThePreviousSettingsRate) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    ktermios previous = line_settings(B57600);
    ktermios asked = line_settings(B230400);  // beyond clock / 16 of a 16550A
    const auto trace = lp.traced([&] { lp.ops().set_termios(lp.port(), &asked, &previous); });
    EXPECT_EQ(writes_among(trace, {"DLL", "DLM"}), (std::vector<RegisterAccess>{wr("DLL", 0x02), wr("DLM", 0x00)}));
    EXPECT_EQ(asked.c_cflag & CBAUD, B57600) << "the settings read back the rate in use";
}

TEST(HighSpeedDivisors, BoardCodesComeBeforeTheDivisorOneRule) {
    const DivisorCase cases[] = {
        {"clock / 4 is 0x8001, sample clock still set", UartModel::ox16c950, pc_clock_hz, high_speed_divisors,
         B460800, {wr("SCR", 0x02), wr("ICR", 0x04), wr("DLL", 0x01), wr("DLM", 0x80)}},
        {"clock / 8 is 0x8002, sample clock still set", UartModel::ox16c950, pc_clock_hz, high_speed_divisors,
         B230400, {wr("SCR", 0x02), wr("ICR", 0x08), wr("DLL", 0x02), wr("DLM", 0x80)}},
        {"other rates keep their divisor", UartModel::ox16c950, pc_clock_hz, high_speed_divisors, B115200,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x01), wr("DLM", 0x00)}},
        {"a 16550A never gets the codes: capped at clock / 16", UartModel::ns16550a, pc_clock_hz,
         high_speed_divisors, B115200, {wr("DLL", 0x01), wr("DLM", 0x00)}},
    };
    for (const DivisorCase& c : cases) check_divisor_case(c);
}

TEST(DivisorQuirk, ZeroLowByteIsRaisedByOneOnlyOnTheRevisionThatNeedsIt) {
    const DivisorCase cases[] = {
        {"16C952 rev 1, 1200 bit/s: 0x0100 becomes 0x0101", UartModel::ox16c952_rev1, clock_4m9_hz, 0, B1200,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x01), wr("DLM", 0x01)}},
        {"16C952 rev 1, 2400 bit/s: 0x0080 is left alone", UartModel::ox16c952_rev1, clock_4m9_hz, 0, B2400,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x80), wr("DLM", 0x00)}},
        {"16C952 rev 2, 1200 bit/s: 0x0100 as computed", UartModel::ox16c952_rev2, clock_4m9_hz, 0, B1200,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("DLL", 0x00), wr("DLM", 0x01)}},
    };
    for (const DivisorCase& c : cases) check_divisor_case(c);
}

TEST(DivisorQuirk, AutoconfigurationMarksOnlyTheFirstRevision) {
    struct Case {
        UartModel model;
        bool quirk;
    };
    for (const Case c : {Case{UartModel::ox16c952_rev1, true}, Case{UartModel::ox16c952_rev2, false},
                         Case{UartModel::ox16c950, false}}) {
        SCOPED_TRACE(sim::hw::uart_preset(c.model).features.part);
        LinePort lp({.model = c.model});
        ASSERT_TRUE(lp.ready());
        EXPECT_EQ((lp.up().quirk_flags & quirk_quot) != 0, c.quirk);
    }
}

}  // namespace
}  // namespace driver_test
