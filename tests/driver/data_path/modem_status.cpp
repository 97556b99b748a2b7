// Modem-status changes: counting, hardware flow control on CTS and DSR, carrier handling and the
// wake-ups, and the silence while the modem-status interrupt is off.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data_path_rig.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

constexpr std::uint8_t ier_watching = 0x0f;       // all four causes on
constexpr std::uint8_t ier_watching_idle = 0x0d;  // the same with the transmit interrupt off

struct FlowSignal {
    const char* name;
    std::uint32_t state_flag;
    std::uint8_t delta;
    std::uint8_t level;
    std::uint32_t uart_icount::*counter;
};

constexpr FlowSignal cts_signal{"Cts", state_cts_flow, 0x01, 0x10, &uart_icount::cts_changes};
constexpr FlowSignal dsr_signal{"Dsr", state_dsr_flow, 0x02, 0x20, &uart_icount::dsr_changes};

struct FlowCase {
    FlowSignal signal;
    UartModel model;
};

class FlowControl : public ::testing::TestWithParam<FlowCase> {};

TEST_P(FlowControl, FallingSignalStopsOutputAndRisingSignalRestartsIt) {
    const FlowCase& c = GetParam();
    const bool halts_transmitter = c.model == UartModel::ox16c950;
    DataPathRig rig({{"A", 0x100, 5, c.model}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    port.state().flags = c.signal.state_flag;
    port.open->fill(0, 100);
    const std::uint32_t changes_before = up.port.counters.*c.signal.counter;
    const unsigned long wakeups_before = rig.write_wakeups();

    port.uart->script_reads(offset::msr, {c.signal.delta});
    std::uint32_t msr = 0;
    auto fall = rig.traced(0, [&] { msr = rig.check_modem_status(up); });
    EXPECT_EQ(msr & 0xff, c.signal.delta);
    std::vector<RegisterAccess> expected_fall{rd("MSR"), wr("IER", ier_watching_idle)};
    if (halts_transmitter) {
        expected_fall.push_back(wr("SCR", 0x00));
        expected_fall.push_back(wr("ICR", 0x02));
    }
    EXPECT_EQ(fall, expected_fall);
    EXPECT_EQ(port.tty().stopped_bits(), modem_stopped);
    EXPECT_EQ(up.port.counters.*c.signal.counter - changes_before, 1u);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 1u);
    EXPECT_EQ(rig.write_wakeups(), wakeups_before) << "stopping wakes no writer";

    // Falling again while stopped changes nothing but the count.
    auto again = rig.traced(0, [&] { rig.check_modem_status(up); });
    EXPECT_EQ(again, (std::vector<RegisterAccess>{rd("MSR")}));
    EXPECT_EQ(port.tty().stopped_bits(), modem_stopped);
    EXPECT_EQ(up.port.counters.*c.signal.counter - changes_before, 2u);

    port.uart->script_reads(offset::msr, {static_cast<std::uint8_t>(c.signal.delta | c.signal.level)});
    auto rise = rig.traced(0, [&] { rig.check_modem_status(up); });
    std::vector<RegisterAccess> expected_rise{rd("MSR"), wr("IER", ier_watching)};
    if (halts_transmitter) {
        expected_rise.push_back(wr("SCR", 0x00));
        expected_rise.push_back(wr("ICR", 0x00));
    }
    EXPECT_EQ(rise, expected_rise);
    EXPECT_EQ(port.tty().stopped_bits(), 0);
    EXPECT_EQ(rig.write_wakeups() - wakeups_before, 1u) << "writers may go on";
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 3u);
    EXPECT_EQ(port.open->waiting(), 100) << "the flow step itself sends nothing";
}

INSTANTIATE_TEST_SUITE_P(Signals, FlowControl,
                         ::testing::Values(FlowCase{cts_signal, UartModel::ns16550a},
                                           FlowCase{cts_signal, UartModel::ox16c950},
                                           FlowCase{dsr_signal, UartModel::ns16550a},
                                           FlowCase{dsr_signal, UartModel::ox16c950}),
                         [](const auto& info) {
                             return std::string(info.param.signal.name) +
                                    (info.param.model == UartModel::ox16c950 ? "On16C950" : "On16550A");
                         });

TEST(FlowSteps, ChangesWithoutFlowControlAreOnlyCounted) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    const uart_icount before = up.port.counters;
    port.uart->script_reads(offset::msr, {0x07});  // CTS and DSR fell, a ring ended
    auto trace = rig.traced(0, [&] { rig.check_modem_status(up); });
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{rd("MSR")}));
    EXPECT_EQ(up.port.counters.cts_changes - before.cts_changes, 1u);
    EXPECT_EQ(up.port.counters.dsr_changes - before.dsr_changes, 1u);
    EXPECT_EQ(up.port.counters.ring_edges - before.ring_edges, 1u);
    EXPECT_EQ(up.port.counters.dcd_changes, before.dcd_changes);
    EXPECT_EQ(port.tty().stopped_bits(), 0);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 1u);
}

// Both flow controls share the one stop bit: DSR coming up restarts what CTS stopped.
TEST(FlowSteps, RisingDsrRestartsOutputThatFallingCtsStopped) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    port.state().flags = state_cts_flow | state_dsr_flow;
    port.uart->script_reads(offset::msr, {0x01, 0x22});
    rig.check_modem_status(up);
    EXPECT_EQ(port.tty().stopped_bits(), modem_stopped);
    rig.check_modem_status(up);
    EXPECT_EQ(port.tty().stopped_bits(), 0);
    EXPECT_EQ(up.ier_shadow, ier_watching);
}

struct CarrierCase {
    const char* name;
    std::uint32_t flags;
    std::uint8_t msr;
    unsigned long hangups;
    unsigned long open_wakeups;
};

std::ostream& operator<<(std::ostream& out, const CarrierCase& c) { return out << c.name; }

class Carrier : public ::testing::TestWithParam<CarrierCase> {};

TEST_P(Carrier, HangsUpOrWakesTheOpenQueue) {
    const CarrierCase& c = GetParam();
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    port.state().flags = c.flags;
    const std::uint32_t dcd_before = up.port.counters.dcd_changes;
    port.uart->script_reads(offset::msr, {c.msr});

    auto trace = rig.traced(0, [&] { EXPECT_EQ(rig.check_modem_status(up) & 0xff, c.msr); });

    EXPECT_EQ(trace, (std::vector<RegisterAccess>{rd("MSR")}));
    EXPECT_EQ(up.port.counters.dcd_changes - dcd_before, 1u);
    EXPECT_EQ(port.tty().hangups(), c.hangups);
    EXPECT_EQ(port.state().open_wait.wake_count, c.open_wakeups);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 1u);
}

INSTANTIATE_TEST_SUITE_P(Dcd, Carrier,
                         ::testing::Values(CarrierCase{"LossHangsUp", state_check_cd, 0x08, 1, 0},
                                           CarrierCase{"ArrivalWakesOpeners", state_check_cd, 0x88, 0, 1},
                                           CarrierCase{"LossIgnoredUnderClocal", 0, 0x08, 0, 0},
                                           CarrierCase{"ArrivalIgnoredUnderClocal", 0, 0x88, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CarrierWithoutTty, LossWithoutAnOpenTtyHangsUpNothing) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    port.state().flags = state_check_cd | state_cts_flow;
    port.state().tty = nullptr;
    const std::uint32_t dcd_before = up.port.counters.dcd_changes;
    port.uart->script_reads(offset::msr, {0x09});  // carrier and CTS fell
    rig.check_modem_status(up);
    EXPECT_EQ(up.port.counters.dcd_changes - dcd_before, 1u);
    EXPECT_EQ(port.tty().hangups(), 0u);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 1u);
}

// While the modem-status interrupt is off the changes the MSR read clears are lost: nothing is
// counted, stopped, hung up or woken, whatever the flow flags say.
TEST(ModemStatusOff, ReportsMsrButCountsAndActsOnNothing) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = 0x07;
    port.state().flags = state_cts_flow | state_dsr_flow | state_check_cd;
    const uart_icount before = up.port.counters;
    port.uart->script_reads(offset::msr, {0x0f});  // every change, every line low

    std::uint32_t msr = 0;
    auto trace = rig.traced(0, [&] { msr = rig.check_modem_status(up); });

    EXPECT_EQ(msr & 0xff, 0x0fu);
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{rd("MSR")}));
    EXPECT_EQ(up.port.counters.cts_changes, before.cts_changes);
    EXPECT_EQ(up.port.counters.dsr_changes, before.dsr_changes);
    EXPECT_EQ(up.port.counters.ring_edges, before.ring_edges);
    EXPECT_EQ(up.port.counters.dcd_changes, before.dcd_changes);
    EXPECT_EQ(port.tty().stopped_bits(), 0);
    EXPECT_EQ(port.tty().hangups(), 0u);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 0u);
    EXPECT_EQ(port.state().open_wait.wake_count, 0u);
    EXPECT_EQ(up.ier_shadow, 0x07);
}

TEST(ModemStatusQuiet, NoChangeBitsWakeNobody) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    port.state().flags = state_cts_flow;
    port.uart->script_reads(offset::msr, {0xb0});  // lines steady, CTS, DSR and DCD up
    EXPECT_EQ(rig.check_modem_status(up) & 0xff, 0xb0u);
    EXPECT_EQ(port.state().modem_change_wait.wake_count, 0u);
}

TEST(ModemStatusQuiet, PortWithoutCoreStateOnlyReportsMsr) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_watching;
    core_port_state* kept = up.port.core_state;
    up.port.core_state = nullptr;
    const std::uint32_t cts_before = up.port.counters.cts_changes;
    rig.port().uart->script_reads(offset::msr, {0x01});
    EXPECT_EQ(rig.check_modem_status(up) & 0xff, 0x01u);
    EXPECT_EQ(up.port.counters.cts_changes, cts_before);
    up.port.core_state = kept;
}

}  // namespace
}  // namespace driver_test
