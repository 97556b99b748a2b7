// The register sequences of startup and shutdown, in order: the UART is put into a known state
// before anything is enabled, and the parts with extra registers get their own set-up.
#include <gtest/gtest.h>

#include <string>

#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;

class SixteenFiftyA : public ::testing::Test {
protected:
    serial8250_uart& load_with(InterruptWiring wiring) {
        dm.place_pc_uart(0x3f8, UartModel::ns16550a, wiring);
        EXPECT_TRUE(dm.load());
        // The interrupt probe at load sent a byte; let the transmitter go idle.
        dm.machine.run_for(std::chrono::milliseconds(100));
        serial8250_uart& up = dm.slot(0);
        up.port.modem_ctrl = 0;
        return up;
    }
    DriverMachine dm;
};

// FIFOs cleared, status read away, presence checked.
const std::vector<RegisterAccess> reset_and_presence = {
    wr("FCR", 0x01), wr("FCR", 0x07), wr("FCR", 0x00), rd("LSR"), rd("RBR"), rd("IIR"), rd("MSR"), rd("LSR")};
// 8N1, the modem lines, the transmitter-enable test, receive interrupts on, status read away.
// With OUT2 on, the test's THRI raises the line; the handler takes it once the locks are
// released and finds nothing pending any more (one IIR read).
std::vector<RegisterAccess> after_servicing(std::uint8_t mcr, bool line_raised) {
    std::vector<RegisterAccess> steps = {wr("LCR", 0x03), wr("MCR", mcr), wr("IER", 0x02), rd("LSR"),
                                         rd("IIR"),       wr("IER", 0x00)};
    if (line_raised) steps.push_back(rd("IIR"));
    const std::vector<RegisterAccess> rest = {wr("IER", 0x05), rd("LSR"), rd("RBR"), rd("IIR"), rd("MSR")};
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

TEST_F(SixteenFiftyA, StartupWithALineProbesTheTransmitterBeforeJoining) {
    serial8250_uart& up = load_with(InterruptWiring::edge(4));
    dm.start_trace();
    ASSERT_EQ(start_port(up), 0);
    std::vector<RegisterAccess> expected = reset_and_presence;
    // Transmitter idle at the first look; then THRI on twice, IIR read after each.
    const std::vector<RegisterAccess> probe = {rd("LSR"),        wr("IER", 0x02), rd("IIR"), wr("IER", 0x00),
                                               wr("IER", 0x02), rd("IIR"),        wr("IER", 0x00)};
    expected.insert(expected.end(), probe.begin(), probe.end());
    const auto rest = after_servicing(0x08, true);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(dm.register_trace("serial"), expected);
    EXPECT_EQ(up.ier_shadow, 0x05);
    EXPECT_EQ(up.mcr_shadow, 0);
    EXPECT_EQ(up.cap_flags, cap_fifo);

    dm.start_trace();
    stop_port(up);
    EXPECT_EQ(dm.register_trace("serial"), (std::vector{wr("IER", 0x00), wr("MCR", 0x00), rd("LCR"), wr("LCR", 0x03),
                                                         wr("FCR", 0x01), wr("FCR", 0x07), wr("FCR", 0x00), rd("RBR")}));
    EXPECT_EQ(up.ier_shadow, 0);
}

TEST_F(SixteenFiftyA, PolledStartupHasNoTransmitterProbe) {
    serial8250_uart& up = load_with(InterruptWiring::none());
    ASSERT_EQ(up.port.irq_line, 0u);
    dm.start_trace();
    ASSERT_EQ(start_port(up), 0);
    std::vector<RegisterAccess> expected = reset_and_presence;
    const auto rest = after_servicing(0x00, false);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(dm.register_trace("serial"), expected);
    stop_port(up);
}

TEST_F(SixteenFiftyA, ShutdownClearsABreakLeftOn) {
    serial8250_uart& up = load_with(InterruptWiring::none());
    ASSERT_EQ(start_port(up), 0);
    dm.machine.bus().outb(0x3fb, 0x43);  // 8N1 with the break on
    dm.start_trace();
    stop_port(up);
    EXPECT_TRUE(contains_run(dm.register_trace("serial"), {rd("LCR"), wr("LCR", 0x03)}));
}

TEST_F(SixteenFiftyA, StartupReloadsCapabilitiesAndClearsTheDriversMcrBits) {
    serial8250_uart& up = load_with(InterruptWiring::none());
    up.cap_flags = cap_efr | cap_sleep;
    up.mcr_shadow = 0x20;
    ASSERT_EQ(start_port(up), 0);
    EXPECT_EQ(up.cap_flags, cap_fifo);
    EXPECT_EQ(up.mcr_shadow, 0);
    stop_port(up);
}

struct ChipCase {
    const char* what;
    UartModel model;
    unsigned type;
    std::vector<RegisterAccess> steps;  // a contiguous run of the startup trace
};

class ChipSetupAtStartup : public ::testing::TestWithParam<ChipCase> {};

TEST_P(ChipSetupAtStartup, SetsUpTheExtraRegisters) {
    const ChipCase c = GetParam();
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, c.model, InterruptWiring::none());
    ASSERT_TRUE(dm.load());
    serial8250_uart& up = dm.slot(0);
    ASSERT_EQ(up.port.uart_type, c.type);
    up.acr_shadow = 0x02;
    dm.start_trace();
    ASSERT_EQ(start_port(up), 0);
    const auto trace = dm.register_trace("serial");
    EXPECT_TRUE(contains_run(trace, c.steps)) << ::testing::PrintToString(trace);
    if (c.type == type_16c950) {
        EXPECT_EQ(up.acr_shadow, 0);
    }
    stop_port(up);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, ChipSetupAtStartup,
    ::testing::Values(
        // Enhanced mode on, the clock select register cleared; all before the FIFOs are reset.
        // The write meant for IER lands on DLM: LCR 0xbf has the latch bit set.
        ChipCase{"Ox16c950", UartModel::ox16c950, type_16c950,
                 {wr("LCR", 0xbf), wr("EFR", 0x10), wr("DLM", 0x00), wr("LCR", 0x00), wr("SCR", 0x0c),
                  wr("ICR", 0x00), wr("LCR", 0xbf), wr("EFR", 0x10), wr("LCR", 0x00), wr("FCR", 0x01)}},
        // Both FIFO trigger levels at 0x60 through FCTR and TRG, after the presence check.
        ChipCase{"Xr16c850", UartModel::xr16c850, type_16850,
                 {rd("LSR"), wr("LCR", 0xbf), rd("FCTR"), wr("FCTR", 0x30), wr("TRG", 0x60), wr("FCTR", 0xb0),
                  wr("TRG", 0x60), wr("LCR", 0x00), wr("LCR", 0x03)}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
