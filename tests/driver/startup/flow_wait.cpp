// wait_flow_at_startup: before the transmit-interrupt test the port waits, with its lock held,
// for the flow-control input its settings name, about a second at most, keeping the NMI
// watchdog quiet meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/kernel/serial_core/serial_core.h"
#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::ModemSignal;
using sim::hw::UartModel;
using namespace std::chrono_literals;

struct FlowCase {
    const char* what;
    bool crtscts;       // state_cts_flow
    bool dsr_flow;      // state_dsr_flow
    bool cts_present;
    bool dsr_present;
    std::size_t passes;
};

class FlowWait : public ::testing::TestWithParam<FlowCase> {
protected:
    FlowWait() : dm(settings()), chip(dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4)) {}
    static sim::kernel::MachineSettings settings() {
        sim::kernel::MachineSettings s;
        s.lockup_limit = 100ms;  // far below the wait, so a wait that starves the watchdog shows
        return s;
    }

    // MSR reads of one open of ttyS0; the port is closed again afterwards.
    std::size_t msr_reads_of_open() {
        dm.start_trace();
        auto file = dm.core().open("ttyS0");
        EXPECT_TRUE(file.ok()) << file.error();
        const std::size_t reads = reads_of(dm.register_trace("serial"), "MSR");
        dm.machine.bus().set_tracing(false);
        if (file.ok()) {
            EXPECT_EQ(dm.core().close(*file), 0);
        }
        return reads;
    }

    DriverMachine dm;
    sim::hw::UartChip& chip;
};

TEST_P(FlowWait, WaitsForTheNamedInputOrRunsItsFullLength) {
    const FlowCase c = GetParam();
    ASSERT_TRUE(dm.load());
    chip.set_modem_input(ModemSignal::cts, c.cts_present);
    chip.set_modem_input(ModemSignal::dsr, c.dsr_present);

    // Settings persist across opens: the flow flags are in place before the next startup.
    auto file = dm.core().open("ttyS0");
    ASSERT_TRUE(file.ok()) << file.error();
    ktermios settings = *dm.core().get_termios(*file);
    if (c.crtscts) settings.c_cflag |= CRTSCTS;
    ASSERT_EQ(dm.core().set_termios(*file, settings), 0);
    sim::kernel::LineSettings line = dm.core().line_settings(0);
    line.dsr_flow = c.dsr_flow;
    ASSERT_EQ(dm.core().set_line_settings(0, line), 0);
    ASSERT_EQ(dm.core().close(*file), 0);

    const std::size_t without_wait = msr_reads_of_open();
    dm.slot(0).port.port_flags |= wait_flow_at_startup;
    const auto started = dm.machine.now();
    const std::size_t with_wait = msr_reads_of_open();
    const auto took = dm.machine.now() - started;

    EXPECT_EQ(with_wait - without_wait, c.passes);
    if (c.passes > 1) {
        EXPECT_GE(took, std::chrono::microseconds(c.passes)) << "1 us between passes";
    }
    EXPECT_FALSE(dm.machine.log().contains("LOCKUP")) << dm.machine.log().dmesg();
}

INSTANTIATE_TEST_SUITE_P(
    Flags, FlowWait,
    ::testing::Values(FlowCase{"NoFlowFlagRunsAllPasses", false, false, true, true, 999999},
                      FlowCase{"CtsFlowStopsAtCts", true, false, true, false, 1},
                      FlowCase{"DsrFlowStopsAtDsr", false, true, false, true, 1},
                      FlowCase{"EitherInputWillDo", true, true, false, true, 1}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
