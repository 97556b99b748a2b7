// The timers startup arms: the poll timer of a port without a line, the backup timer of a port
// whose UART does not raise the transmit interrupt again, and what shutdown leaves of them.
#include <gtest/gtest.h>

#include <string>

#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;

struct PollPeriodCase {
    std::uint32_t fifo_timeout;
    unsigned long ticks;
};

class PollTimer : public ::testing::TestWithParam<PollPeriodCase> {};

TEST_P(PollTimer, FiresAfterThePeriodOfTheFifoTimeoutAndKeepsRunningUntilShutdown) {
    const PollPeriodCase c = GetParam();
    DriverMachine dm;
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, InterruptWiring::none());
    ASSERT_TRUE(dm.load());
    serial8250_uart& up = dm.slot(1);
    ASSERT_EQ(up.port.irq_line, 0u);
    up.port.fifo_timeout = c.fifo_timeout;

    const unsigned long armed_at = dm.machine.jiffies();
    ASSERT_EQ(start_port(up), 0);
    ASSERT_TRUE(dm.machine.timers().pending(&up.poll_timer));
    EXPECT_EQ(up.poll_timer.expires, armed_at + c.ticks);
    EXPECT_EQ(callback_of(up), timer_callback(dm, "serial8250_timeout"));
    EXPECT_EQ(up.poll_timer.data, reinterpret_cast<unsigned long>(&up));

    // It fires at that tick and arms itself again one period on.
    const std::chrono::nanoseconds tick = std::chrono::nanoseconds(std::chrono::seconds(1)) / dm.machine.hz();
    dm.machine.run_until([&] { return dm.machine.jiffies() == armed_at + c.ticks; }, tick * (c.ticks + 1));
    dm.machine.run_for(tick / 2);
    EXPECT_EQ(up.poll_timer.expires, armed_at + 2 * c.ticks);
    EXPECT_TRUE(dm.machine.timers().pending(&up.poll_timer));

    stop_port(up);
    EXPECT_FALSE(dm.machine.timers().pending(&up.poll_timer));
    EXPECT_EQ(callback_of(up), timer_callback(dm, "serial8250_timeout"));
}

INSTANTIATE_TEST_SUITE_P(FifoTimeouts, PollTimer,
                         ::testing::Values(PollPeriodCase{0, 1}, PollPeriodCase{1, 1}, PollPeriodCase{2, 1},
                                           PollPeriodCase{3, 1}, PollPeriodCase{4, 1}, PollPeriodCase{5, 1},
                                           PollPeriodCase{6, 1}, PollPeriodCase{7, 1}, PollPeriodCase{8, 2},
                                           PollPeriodCase{20, 8}),
                         [](const auto& info) { return "fifo_timeout_" + std::to_string(info.param.fifo_timeout); });

struct BackupCase {
    const char* what;
    bool thre_not_reasserted;
    bool backup_timer;
};

class BackupTimer : public ::testing::TestWithParam<BackupCase> {};

TEST_P(BackupTimer, IsArmedOnlyForAUartThatDoesNotRaiseTheTransmitInterruptAgain) {
    const BackupCase c = GetParam();
    DriverMachine dm;
    auto& chip = dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    ASSERT_TRUE(dm.load());
    sim::hw::UartFaults faults;
    faults.thre_not_reasserted = c.thre_not_reasserted;
    chip.set_faults(faults);
    serial8250_uart& up = dm.slot(0);
    up.port.fifo_timeout = 20;

    const unsigned long started_at = dm.machine.jiffies();
    ASSERT_EQ(start_port(up), 0);
    ASSERT_EQ(dm.machine.timers().pending(&up.poll_timer), c.backup_timer);
    if (c.backup_timer) {
        EXPECT_EQ(up.poll_timer.expires, started_at + 58);
        EXPECT_EQ(callback_of(up), timer_callback(dm, "serial8250_backup_timeout"));
        EXPECT_EQ(up.poll_timer.data, reinterpret_cast<unsigned long>(&up));
        dm.machine.run_for(std::chrono::milliseconds(4 * 59));
        EXPECT_EQ(up.poll_timer.expires, started_at + 2 * 58) << "it re-arms itself";
    }
    EXPECT_EQ(chain_walk(dm.chain_entry(4)).size(), 1u) << "the port has its line either way";

    stop_port(up);
    EXPECT_FALSE(dm.machine.timers().pending(&up.poll_timer));
    EXPECT_EQ(callback_of(up), timer_callback(dm, "serial8250_timeout"));
    dm.machine.run_for(std::chrono::seconds(1));
    EXPECT_FALSE(dm.machine.timers().pending(&up.poll_timer)) << "nothing arms it again";
}

INSTANTIATE_TEST_SUITE_P(Uarts, BackupTimer,
                         ::testing::Values(BackupCase{"SoundUart", false, false},
                                           BackupCase{"ThreNotReasserted", true, true}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
