// Rate choice, divisor rounding and the FIFO timeout.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "drivers/serial/kernel/serial_core.h"
#include "sim/kernel/machine.h"

namespace {

struct RateCase {
    tcflag_t code;
    unsigned int rate;
    friend std::ostream& operator<<(std::ostream& out, const RateCase& c) { return out << 'B' << c.rate; }
};

class SpeedCodeTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(SpeedCodeTest, CodeGivesItsRateWithinRange) {
    ktermios settings{};
    settings.c_cflag = CS8 | CREAD | GetParam().code;
    EXPECT_EQ(uart_get_baud_rate(nullptr, &settings, nullptr, 0, 4000000), GetParam().rate);
    EXPECT_EQ(settings.c_cflag & CBAUD, GetParam().code) << "an accepted rate keeps its code";
}

INSTANTIATE_TEST_SUITE_P(
    StandardTable, SpeedCodeTest,
    ::testing::Values(RateCase{B50, 50}, RateCase{B75, 75}, RateCase{B110, 110},
                      RateCase{B134, 134}, RateCase{B150, 150}, RateCase{B200, 200},
                      RateCase{B300, 300}, RateCase{B600, 600}, RateCase{B1200, 1200},
                      RateCase{B1800, 1800}, RateCase{B2400, 2400}, RateCase{B4800, 4800},
                      RateCase{B9600, 9600}, RateCase{B19200, 19200}, RateCase{B38400, 38400},
                      RateCase{B57600, 57600}, RateCase{B115200, 115200},
                      RateCase{B230400, 230400}, RateCase{B460800, 460800},
                      RateCase{B500000, 500000}, RateCase{B576000, 576000},
                      RateCase{B921600, 921600}, RateCase{B1000000, 1000000},
                      RateCase{B1152000, 1152000}, RateCase{B1500000, 1500000},
                      RateCase{B2000000, 2000000}, RateCase{B2500000, 2500000},
                      RateCase{B3000000, 3000000}, RateCase{B3500000, 3500000},
                      RateCase{B4000000, 4000000}),
    [](const auto& info) { return "B" + std::to_string(info.param.rate); });

struct FallbackCase {
    const char* name;
    tcflag_t asked;
    bool has_old;
    tcflag_t old_code;
    unsigned int min;
    unsigned int max;
    unsigned int rate;
    tcflag_t code_after;  // the speed code left in the new settings
    friend std::ostream& operator<<(std::ostream& out, const FallbackCase& c) { return out << c.name; }
};

class RateFallbackTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(RateFallbackTest, OutOfRangeFallsBackAndRecordsTheRateInUse) {
    const FallbackCase& c = GetParam();
    ktermios settings{};
    settings.c_cflag = CS8 | CLOCAL | c.asked;
    ktermios old{};
    old.c_cflag = CS7 | c.old_code;
    EXPECT_EQ(uart_get_baud_rate(nullptr, &settings, c.has_old ? &old : nullptr, c.min, c.max),
              c.rate);
    EXPECT_EQ(settings.c_cflag & CBAUD, c.code_after);
    EXPECT_EQ(settings.c_cflag & ~CBAUD, CS8 | CLOCAL) << "only the speed code may change";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateFallbackTest,
    ::testing::Values(
        FallbackCase{"AboveMaxTakesOld", B230400, true, B19200, 0, 115200, 19200, B19200},
        FallbackCase{"AboveMaxNoOldTakes9600", B230400, false, 0, 0, 115200, 9600, B9600},
        FallbackCase{"OldAlsoOutTakes9600", B921600, true, B460800, 0, 115200, 9600, B9600},
        FallbackCase{"BelowMinTakesOld", B50, true, B2400, 1200, 115200, 2400, B2400},
        FallbackCase{"HangUpRunsAt9600KeepsB0", B0, true, B19200, 0, 115200, 9600, B0},
        FallbackCase{"ExtensionBitAloneIsNoRate", CBAUDEX, false, 0, 0, 115200, 9600, B9600},
        FallbackCase{"Even9600OutIsPinnedToMax", B38400, false, 0, 0, 4800, 4800, B4800},
        FallbackCase{"Even9600OutIsPinnedToMin", B300, false, 0, 19200, 115200, 19200, B19200},
        FallbackCase{"MaxItselfIsAccepted", B115200, true, B9600, 0, 115200, 115200, B115200}),
    [](const auto& info) { return std::string(info.param.name); });

struct DivisorCase {
    std::uint32_t clock;
    unsigned int rate;
    unsigned int divisor;
    friend std::ostream& operator<<(std::ostream& out, const DivisorCase& c) {
        return out << c.rate << " bit/s at " << c.clock << " Hz";
    }
};

class DivisorTest : public ::testing::TestWithParam<DivisorCase> {};

TEST_P(DivisorTest, RoundsToNearest) {
    uart_port port{};
    port.uart_clock_hz = GetParam().clock;
    EXPECT_EQ(uart_get_divisor(&port, GetParam().rate), GetParam().divisor);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, DivisorTest,
    ::testing::Values(DivisorCase{1843200, 115200, 1}, DivisorCase{1843200, 9600, 12},
                      DivisorCase{1843200, 50, 2304}, DivisorCase{1843200, 134, 860},
                      DivisorCase{1843200, 110, 1047}, DivisorCase{1843200, 76800, 2},
                      DivisorCase{1843200, 230400, 1}, DivisorCase{1843200, 460800, 0},
                      DivisorCase{14745600, 921600, 1}, DivisorCase{14745600, 57600, 16},
                      DivisorCase{4000000000u, 50, 5000000}, DivisorCase{1843200, 0, 0}),
    [](const auto& info) {
        return "Rate" + std::to_string(info.param.rate) + "Clock" + std::to_string(info.param.clock);
    });

struct TimeoutCase {
    const char* name;
    unsigned int hz;
    tcflag_t cflag;
    std::uint32_t fifo_depth;
    unsigned int rate;
    std::uint32_t ticks;
    friend std::ostream& operator<<(std::ostream& out, const TimeoutCase& c) { return out << c.name; }
};

class TimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(TimeoutTest, FifoDrainTimePlusMargin) {
    const TimeoutCase& c = GetParam();
    sim::kernel::MachineSettings settings;
    settings.hz = c.hz;
    sim::kernel::Machine machine(settings);
    uart_port port{};
    port.fifo_depth = c.fifo_depth;
    port.fifo_timeout = 12345;
    uart_update_timeout(&port, c.cflag, c.rate);
    EXPECT_EQ(port.fifo_timeout, c.ticks);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, TimeoutTest,
    ::testing::Values(TimeoutCase{"Cs8Fifo16At9600", 250, CS8, 16, 9600, 9},
                      TimeoutCase{"Cs5SingleAt50", 100, CS5, 1, 50, 16},
                      TimeoutCase{"Cs7ParityTwoStops", 1000, CS7 | PARENB | CSTOPB, 64, 115200, 26},
                      TimeoutCase{"Cs6Fifo128Fast", 250, CS6, 128, 4000000, 5},
                      TimeoutCase{"Cs8ParityAt300", 250, CS8 | PARENB, 16, 300, 151}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TimeoutTest, RateZeroLeavesTheTimeoutAlone) {
    sim::kernel::Machine machine;
    uart_port port{};
    port.fifo_depth = 16;
    port.fifo_timeout = 77;
    uart_update_timeout(&port, CS8, 0);
    EXPECT_EQ(port.fifo_timeout, 77u);
}

}  // namespace
