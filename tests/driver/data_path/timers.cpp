// The poll timer of a port without an interrupt line and the backup timer of a port whose UART
// forgets to raise the transmit interrupt again: when they service the port, what they do to
// IER around it, and when they fire next.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "data_path_rig.h"

namespace driver_test {
namespace {

constexpr std::uint8_t iir_idle = 0x01;
constexpr std::uint8_t iir_tx_empty = 0x02;
constexpr std::uint8_t chip_ier = 0x07;  // what the UART's IER holds when the timer runs

struct BackupCase {
    const char* name;
    bool has_line;
    std::uint8_t iir;
    std::uint8_t ier_shadow;
    int waiting;
    unsigned char xchar;
    std::uint8_t lsr;
    std::uint32_t fifo_timeout;
    bool lsr_checked;   // the idle-port test reads LSR
    bool serviced;
    unsigned long rearm_ticks;
};

std::ostream& operator<<(std::ostream& out, const BackupCase& c) { return out << c.name; }

const BackupCase backup_cases[] = {
    {"IdleIirButDataAndThreIsServiced", true, iir_idle, 0x07, 30, 0, 0x60, 20, true, true, 58},
    {"IdleIirWithPendingXcharIsServiced", true, iir_idle, 0x07, 0, 0x13, 0x60, 20, true, true, 58},
    {"IdleIirWithEmptyRingIsLeftAlone", true, iir_idle, 0x07, 0, 0, 0x60, 20, false, false, 58},
    {"IdleIirWithoutTheTransmitInterruptIsLeftAlone", true, iir_idle, 0x05, 30, 0, 0x60, 20, false, false, 58},
    {"IdleIirWithTransmitterBusyIsLeftAlone", true, iir_idle, 0x07, 30, 0, 0x01, 20, true, false, 58},
    {"PendingIirIsServiced", true, iir_tx_empty, 0x05, 0, 0, 0x00, 20, false, true, 58},
    {"ShortFifoTimeoutPollsEveryTickPlusTheBackupMargin", true, iir_idle, 0x07, 0, 0, 0x60, 6, false, false, 51},
    {"PortWithoutALineLeavesIerAlone", false, iir_idle, 0x07, 30, 0, 0x60, 20, true, true, 58},
};

class BackupTimer : public ::testing::TestWithParam<BackupCase> {};

TEST_P(BackupTimer, ServicesWhenNeededRestoresIerAndRearms) {
    const BackupCase& c = GetParam();
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    const std::uint32_t line = up.port.irq_line;
    if (!c.has_line) up.port.irq_line = 0;
    up.ier_shadow = c.ier_shadow;
    up.port.fifo_timeout = c.fifo_timeout;
    up.port.pending_xchar = c.xchar;
    port.open->fill(0, c.waiting);
    port.uart->script_reads(offset::ier, {chip_ier});
    port.uart->script_reads(offset::iir, {c.iir});
    port.uart->script_reads(offset::lsr, {c.lsr});
    const unsigned long now = rig.dm.machine.jiffies();

    auto trace = rig.traced(0, [&] { rig.run_timer_callback("serial8250_backup_timeout", up); });
    up.port.irq_line = line;

    std::vector<RegisterAccess> expected;
    if (c.has_line) {
        expected.push_back(rd("IER"));
        expected.push_back(wr("IER", 0x00));
    }
    expected.push_back(rd("IIR"));
    if (c.lsr_checked) expected.push_back(rd("LSR"));
    if (c.serviced) {
        expected.push_back(rd("LSR"));
        expected.push_back(rd("MSR"));
        if (c.lsr & 0x20) {
            if (c.xchar != 0) expected.push_back(wr("THR", c.xchar));
            else
                for (int i = 0; i < 16; ++i) expected.push_back(wr("THR", static_cast<std::uint8_t>(i)));
        }
    }
    if (c.has_line) expected.push_back(wr("IER", chip_ier));
    EXPECT_EQ(trace, expected);

    EXPECT_TRUE(rig.dm.machine.timers().pending(&up.poll_timer)) << "the timer keeps running";
    EXPECT_EQ(up.poll_timer.expires, now + c.rearm_ticks);
    EXPECT_EQ(up.port.port_lock.slock, 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupTimer, ::testing::ValuesIn(backup_cases),
                         [](const auto& info) { return std::string(info.param.name); });

struct PollCase {
    const char* name;
    std::uint8_t iir;
    std::uint32_t fifo_timeout;
    bool serviced;
    unsigned long rearm_ticks;
};

class PollTimer : public ::testing::TestWithParam<PollCase> {};

TEST_P(PollTimer, ServicesPendingPortsAndRearms) {
    const PollCase& c = GetParam();
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.port.fifo_timeout = c.fifo_timeout;
    up.port.rx_status_mask = 0x7f;
    port.uart->script_reads(offset::iir, {c.iir});
    port.uart->script_reads(offset::lsr, {0x01, 0x00});
    port.uart->script_reads(offset::rbr, {0x41});
    const unsigned long now = rig.dm.machine.jiffies();

    auto trace = rig.traced(0, [&] { rig.run_timer_callback("serial8250_timeout", up); });

    std::vector<RegisterAccess> expected{rd("IIR")};
    if (c.serviced) expected.insert(expected.end(), {rd("LSR"), rd("RBR"), rd("LSR"), rd("MSR")});
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(port.tty().readable(), c.serviced ? 1u : 0u);
    EXPECT_TRUE(rig.dm.machine.timers().pending(&up.poll_timer));
    EXPECT_EQ(up.poll_timer.expires, now + c.rearm_ticks);
}

INSTANTIATE_TEST_SUITE_P(Cases, PollTimer,
                         ::testing::Values(PollCase{"PendingPortIsServiced", 0x04, 20, true, 8},
                                           PollCase{"IdlePortOnlyHasItsIirRead", iir_idle, 20, false, 8},
                                           PollCase{"ShortFifoTimeoutPollsEveryTick", iir_idle, 6, false, 1},
                                           PollCase{"LongFifoTimeout", iir_idle, 101, false, 48}),
                         [](const auto& info) { return std::string(info.param.name); });

// Left to itself, the backup timer keeps firing every P + 50 ticks and feeds a transmitter that
// never raises its interrupt.
TEST(BackupTimerRunning, FeedsTheTransmitterOnEachRun) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = 0x07;
    up.poll_timer.function = rig.dm.function<void(unsigned long)>("serial8250_backup_timeout");
    port.open->fill(0, 40);
    port.uart->script_reads(offset::iir, {iir_idle});
    port.uart->script_reads(offset::lsr, {0x60});
    const unsigned long start = rig.dm.machine.jiffies();
    mod_timer(&up.poll_timer, start + 58);

    std::vector<unsigned long> fired_at;
    int last_waiting = port.open->waiting();
    rig.dm.machine.run_until(
        [&] {
            if (port.open->waiting() != last_waiting) {
                last_waiting = port.open->waiting();
                fired_at.push_back(rig.dm.machine.jiffies());
            }
            return last_waiting == 0;
        },
        std::chrono::seconds(10));

    EXPECT_EQ(port.open->waiting(), 0);
    EXPECT_EQ(fired_at, (std::vector<unsigned long>{start + 58, start + 116, start + 174}));
    EXPECT_EQ(up.ier_shadow, 0x05) << "the last run found the ring empty";
}

}  // namespace
}  // namespace driver_test
