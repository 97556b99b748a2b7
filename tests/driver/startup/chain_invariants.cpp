// A broken chain invariant stops the machine: going on would free a line someone else holds or
// leave the handler walking a ring that has lost a member.
#include <gtest/gtest.h>

#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

TEST(ChainInvariantDeathTest, ShuttingDownAPortWhoseChainIsEmptyIsABug) {
    EXPECT_DEATH(
        {
            DriverMachine dm;
            dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
            if (!dm.load()) return;
            stop_port(dm.slot(0));  // never started: line 4 has no chain
        },
        "kernel BUG at .*startup");
}

TEST(ChainInvariantDeathTest, UnlinkingAStrangerFromAOnePortChainIsABug) {
    EXPECT_DEATH(
        {
            DriverMachine dm;
            dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
            dm.place_pc_uart(0x3e8, UartModel::ns16550a, 4);
            if (!dm.load()) return;
            if (start_port(dm.slot(0)) != 0) return;
            dm.function<void(irq_chain*, serial8250_uart*)>("serial_do_unlink")(&dm.chain_entry(4), &dm.slot(2));
        },
        "kernel BUG at .*startup");
}

}  // namespace
}  // namespace driver_test
