// Transmitting: the pending flow-control character, stopped ttys, bursts from the transmit ring,
// the writers' wake-up and the transmit interrupt going off when the ring runs dry.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data_path_rig.h"

namespace driver_test {
namespace {

constexpr std::uint8_t ier_open = 0x05;          // received data, line status
constexpr std::uint8_t ier_sending = 0x07;       // the same with the transmit interrupt on

struct TransmitCase {
    const char* name;
    int tail;
    int waiting;
    std::uint32_t load;
    unsigned char xchar;
    std::uint8_t stopped;
    std::size_t bytes_sent;        // ring bytes written to THR (after the x-char, if any)
    int left;
    int tail_after;
    bool writers_woken;
    bool transmit_interrupt_off;
};

std::ostream& operator<<(std::ostream& out, const TransmitCase& c) { return out << c.name; }

const TransmitCase transmit_cases[] = {
    {"PendingXcharGoesAloneOnAStoppedTty", 0, 10, 16, 0x13, output_stopped, 0, 10, 0, false, false},
    {"PendingXcharGoesAloneOnARunningTty", 0, 10, 16, 0x11, 0, 0, 10, 0, false, false},
    {"UserStoppedTtySendsNothing", 0, 10, 16, 0, output_stopped, 0, 10, 0, false, true},
    {"FlowStoppedTtySendsNothing", 0, 10, 16, 0, modem_stopped, 0, 10, 0, false, true},
    {"BurstFrom300LeavesEnoughForNoWakeup", 100, 300, 16, 0, 0, 16, 284, 116, false, false},
    {"BurstFrom270DropsBelowTheWakeupMark", 100, 270, 16, 0, 0, 16, 254, 116, true, false},
    {"ExactlyTheWakeupMarkLeftWakesNobody", 0, 272, 16, 0, 0, 16, 256, 16, false, false},
    {"LastByteWakesWritersAndStopsTheInterrupt", 7, 1, 16, 0, 0, 1, 0, 8, true, true},
    {"ShortRingIsEmptiedWithinTheBurst", 0, 5, 16, 0, 0, 5, 0, 5, true, true},
    {"TailWrapsAt4095", 4095, 5, 2, 0, 0, 2, 3, 1, true, false},
    {"ZeroLoadStillSendsOneByte", 0, 5, 0, 0, 0, 1, 4, 1, true, false},
    {"EmptyRingOnlyStopsTheInterrupt", 40, 0, 16, 0, 0, 0, 0, 40, false, true},
};

class TransmitTable : public ::testing::TestWithParam<TransmitCase> {};

TEST_P(TransmitTable, SendsWakesAndStops) {
    const TransmitCase& c = GetParam();
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_sending;
    up.tx_load_size = c.load;
    up.port.pending_xchar = c.xchar;
    port.tty().set_stopped_bits(c.stopped);
    port.open->fill(c.tail, c.waiting);
    const std::uint32_t tx_before = up.port.counters.tx_chars;
    const unsigned long wakeups_before = rig.write_wakeups();

    auto trace = rig.traced(0, [&] { rig.transmit_chars(up); });

    std::vector<RegisterAccess> expected;
    if (c.xchar != 0) expected.push_back(wr("THR", c.xchar));
    for (std::size_t i = 0; i < c.bytes_sent; ++i) expected.push_back(wr("THR", static_cast<std::uint8_t>(i)));
    if (c.transmit_interrupt_off) expected.push_back(wr("IER", ier_open));
    EXPECT_EQ(trace, expected);

    EXPECT_EQ(up.port.counters.tx_chars - tx_before, c.bytes_sent + (c.xchar != 0 ? 1u : 0u));
    EXPECT_EQ(up.port.pending_xchar, 0);
    EXPECT_EQ(port.open->waiting(), c.left);
    EXPECT_EQ(port.state().transmit_ring.tail, c.tail_after);
    EXPECT_EQ(rig.write_wakeups() - wakeups_before, c.writers_woken ? 1u : 0u);
    EXPECT_EQ(up.ier_shadow, c.transmit_interrupt_off ? ier_open : ier_sending);
    EXPECT_EQ(port.tty().stopped_bits(), c.stopped) << "sending never changes the stop bits";
}

INSTANTIATE_TEST_SUITE_P(Ring, TransmitTable, ::testing::ValuesIn(transmit_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// With the transmit interrupt already off, an empty ring or a stopped tty writes no IER at all.
TEST(TransmitInterrupt, AlreadyOffIsNotWrittenAgain) {
    for (std::uint8_t stopped : {std::uint8_t{0}, output_stopped}) {
        SCOPED_TRACE(stopped ? "stopped tty" : "empty ring");
        DataPathRig rig({{"A", 0x100, 5}});
        ASSERT_TRUE(rig.ready());
        serial8250_uart& up = rig.up();
        up.ier_shadow = ier_open;
        rig.port().tty().set_stopped_bits(stopped);
        rig.port().open->fill(0, stopped ? 3 : 0);
        auto trace = rig.traced(0, [&] { rig.transmit_chars(up); });
        EXPECT_TRUE(trace.empty()) << ::testing::PrintToString(trace);
        EXPECT_EQ(up.ier_shadow, ier_open);
    }
}

// Starting and stopping the transmitter, as the serial core and the flow control call them.
TEST(StartStopTx, StartTurnsTheTransmitInterruptOnOnce) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    serial8250_uart& up = rig.up();
    auto trace = rig.traced(0, [&] {
        rig.with_port_lock(up, [&] {
            up.port.port_ops->start_tx(&up.port);
            up.port.port_ops->start_tx(&up.port);
        });
    });
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("IER", ier_sending)}));
    EXPECT_EQ(up.ier_shadow, ier_sending);

    trace = rig.traced(0, [&] {
        rig.with_port_lock(up, [&] {
            up.port.port_ops->stop_tx(&up.port);
            up.port.port_ops->stop_tx(&up.port);
        });
    });
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("IER", ier_open)}));
}

// A part that does not raise the transmit interrupt when it is enabled over an empty
// transmitter: start_tx feeds it at once.
TEST(StartStopTx, QuirkTxenFeedsAnIdleTransmitterAtOnce) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.quirk_flags = quirk_txen;
    port.open->fill(0, 3);
    port.uart->script_reads(offset::lsr, {0x60});
    port.uart->script_reads(offset::iir, {0x01});

    auto trace = rig.traced(0, [&] { rig.with_port_lock(up, [&] { up.port.port_ops->start_tx(&up.port); }); });

    EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("IER", ier_sending), rd("LSR"), rd("IIR"), wr("THR", 0),
                                                  wr("THR", 1), wr("THR", 2), wr("IER", ier_open)}));
    EXPECT_EQ(port.open->waiting(), 0);
}

TEST(StartStopTx, QuirkTxenLeavesABusyTransmitterToItsInterrupt) {
    struct Case {
        const char* name;
        std::uint8_t lsr;
        std::uint8_t iir;
    };
    for (const Case& c : {Case{"transmitter still sending", 0x20, 0x01}, Case{"interrupt pending", 0x60, 0x02}}) {
        SCOPED_TRACE(c.name);
        DataPathRig rig({{"A", 0x100, 5}});
        ASSERT_TRUE(rig.ready());
        ScriptedPort& port = rig.port();
        serial8250_uart& up = rig.up();
        up.quirk_flags = quirk_txen;
        port.open->fill(0, 3);
        port.uart->script_reads(offset::lsr, {c.lsr});
        port.uart->script_reads(offset::iir, {c.iir});
        auto trace = rig.traced(0, [&] { rig.with_port_lock(up, [&] { up.port.port_ops->start_tx(&up.port); }); });
        EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("IER", ier_sending), rd("LSR"), rd("IIR")}));
        EXPECT_EQ(port.open->waiting(), 3);
    }
}

// The 16C950 also halts its transmitter on stop: ACR is written every time, and start enables
// the transmitter again only when it was halted.
TEST(StartStopTx, On16C950StopAlwaysWritesAcr) {
    DataPathRig rig({{"A", 0x100, 5, sim::hw::UartModel::ox16c950}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    auto stop = rig.traced(0, [&] { rig.with_port_lock(up, [&] { up.port.port_ops->stop_tx(&up.port); }); });
    EXPECT_EQ(stop, (std::vector<RegisterAccess>{wr("SCR", 0x00), wr("ICR", 0x02)}))
        << "the transmit interrupt was already off; ACR is written anyway";
    EXPECT_EQ(port.chip->icr(0) & 0x02, 0x02);
    EXPECT_EQ(up.acr_shadow & 0x02, 0x02);

    auto start = rig.traced(0, [&] { rig.with_port_lock(up, [&] { up.port.port_ops->start_tx(&up.port); }); });
    EXPECT_EQ(start, (std::vector<RegisterAccess>{wr("IER", ier_sending), wr("SCR", 0x00), wr("ICR", 0x00)}));
    EXPECT_EQ(port.chip->icr(0) & 0x02, 0);

    auto again = rig.traced(0, [&] { rig.with_port_lock(up, [&] { up.port.port_ops->start_tx(&up.port); }); });
    EXPECT_TRUE(again.empty()) << "already sending and enabled";
}

// Emptying the ring turns the interrupt off but leaves the 16C950's transmitter running, so the
// characters already in its FIFO still go out.
TEST(StartStopTx, EmptyRingOn16C950LeavesTheTransmitterEnabled) {
    DataPathRig rig({{"A", 0x100, 5, sim::hw::UartModel::ox16c950}});
    ASSERT_TRUE(rig.ready());
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_sending;
    rig.port().open->fill(0, 1);
    auto trace = rig.traced(0, [&] { rig.transmit_chars(up); });
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("THR", 0), wr("IER", ier_open)}));
    EXPECT_EQ(up.acr_shadow & 0x02, 0);
}

TEST(StopRxAndEnableMs, SwitchOnlyTheirOwnCauses) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    serial8250_uart& up = rig.up();
    up.ier_shadow = ier_sending;
    up.port.rx_status_mask = 0x1f;
    auto trace = rig.traced(0, [&] {
        rig.with_port_lock(up, [&] {
            up.port.port_ops->stop_rx(&up.port);
            up.port.port_ops->enable_ms(&up.port);
        });
    });
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{wr("IER", 0x03), wr("IER", 0x0b)}))
        << "line status off, received data left as it was, then modem status on";
    EXPECT_EQ(up.port.rx_status_mask, 0x1eu) << "data ready no longer counts as a status";
}

}  // namespace
}  // namespace driver_test
