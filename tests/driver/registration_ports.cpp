// Ports that other drivers and board devices add and remove: slot choice, what is copied, the
// re-add after unregistration, board probes and removal, sleep, and bad requests.
#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <string>
#include <vector>

#include "sim/kernel/platform/board_devices.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::kernel::FaultPoint;

const char nr_uarts_file[] = "/sys/module/8250/parameters/nr_uarts";

platform_port_entry board_entry(std::uint64_t io_base, std::uint32_t irq, std::uint32_t flags,
                                std::uint32_t clock = standard_clock_hz) {
    platform_port_entry entry{};
    entry.io_base = io_base;
    entry.irq_line = irq;
    entry.uart_clock_hz = clock;
    entry.access_kind = access_port_io;
    entry.port_flags = flags;
    return entry;
}

class Registration : public ::testing::Test {
protected:
    void load(const char* parameters) { ASSERT_TRUE(dm.load(parameters)) << parameters; }
    device* legacy_device() { return &dm.machine.platform().find("serial8250")->dev; }
    DriverMachine dm;
};

TEST_F(Registration, RefusesATemplateWithoutClockOrWithALineBeyondTheChains) {
    load("nr_uarts=8");
    uart_port templ = io_template(0x100, 5);
    templ.uart_clock_hz = 0;
    EXPECT_EQ(dm.register_port(templ), -22);
    templ = io_template(0x100, 4096);
    EXPECT_EQ(dm.register_port(templ), -22);
    EXPECT_EQ(dm.machine.symbols().function<int(uart_port*)>("serial8250_register_port")(nullptr), -22);
    for (unsigned i = 4; i < 8; ++i) EXPECT_EQ(dm.slot(i).port.io_base, 0u) << "slot " << i << " untouched";
}

struct SlotChoiceCase {
    const char* what;
    const char* parameters;
    std::uint32_t io_base;
    int expected;
    friend std::ostream& operator<<(std::ostream& out, const SlotChoiceCase& c) { return out << c.what; }
};

class SlotChoice : public Registration, public ::testing::WithParamInterface<SlotChoiceCase> {};

TEST_P(SlotChoice, FollowsMatchThenNeverUsedThenUnknown) {
    const SlotChoiceCase c = GetParam();
    load(c.parameters);
    uart_port templ = io_template(c.io_base, 5);
    EXPECT_EQ(dm.register_port(templ), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, SlotChoice,
    ::testing::Values(
        SlotChoiceCase{"the same UART is found where it is", "nr_uarts=8", 0x3e8, 2},
        SlotChoiceCase{"a slot that never described hardware comes next", "nr_uarts=8", 0x100, 4},
        SlotChoiceCase{"then the lowest slot of unknown type", "nr_uarts=4", 0x100, 0},
        SlotChoiceCase{"no slot set up", "nr_uarts=0", 0x100, -28}));

TEST_F(Registration, FullTableOfKnownUartsHasNoFreeSlot) {
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, 3);
    load("nr_uarts=2");
    uart_port templ = io_template(0x100, 5);
    EXPECT_EQ(dm.register_port(templ), -28);
    EXPECT_EQ(dm.slot(0).port.io_base, 0x3f8u);
    EXPECT_EQ(dm.slot(1).port.io_base, 0x2f8u);
}

TEST_F(Registration, CopiesTheTemplateAndDetectsTheUart) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    load("nr_uarts=8");
    uart_port templ = io_template(0x100, 5, skip_test);
    templ.fifo_depth = 7;
    templ.hub6_index = 0;
    templ.uart_clock_hz = 7372800;
    ASSERT_EQ(dm.register_port(templ), 4);

    const serial8250_uart& up = dm.slot(4);
    EXPECT_EQ(up.port.io_base, 0x100u);
    EXPECT_EQ(up.port.irq_line, 5u);
    EXPECT_EQ(up.port.uart_clock_hz, 7372800u);
    EXPECT_EQ(up.port.port_flags, skip_test | configure_on_add);
    EXPECT_EQ(up.port.uart_type, type_16550a);
    EXPECT_EQ(up.port.fifo_depth, 16u) << "the type settles the FIFO depth";
    EXPECT_EQ(up.port.owner_device, legacy_device()) << "a template without owner keeps the slot's";
    EXPECT_EQ(up.port.line_index, 4u);
    EXPECT_EQ(up.mcr_mask, 0xff);
    EXPECT_EQ(dm.core().port_at(4), &up.port);
    EXPECT_TRUE(dm.ioport_claimed(0x100, 8, "serial"));

    device other_owner{};
    uart_port again = io_template(0x100, 5);
    again.owner_device = &other_owner;
    ASSERT_EQ(dm.register_port(again), 4) << "the same UART keeps its slot";
    EXPECT_EQ(dm.slot(4).port.owner_device, &other_owner);
    dm.unregister_port(4);
}

TEST_F(Registration, FailedAddKeepsTheSettingsButNotThePort) {
    load("nr_uarts=8");
    dm.machine.faults().fail_next(FaultPoint::uart_add_one_port, -12);
    uart_port templ = io_template(0x100, 5);
    EXPECT_EQ(dm.register_port(templ), -12);
    EXPECT_EQ(dm.slot(4).port.io_base, 0x100u);
    EXPECT_EQ(dm.core().port_at(4), nullptr);
}

TEST_F(Registration, UnregisteredPortStaysAsUnknownAndItsSlotIsFreeAgain) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    load("nr_uarts=8");
    uart_port templ = io_template(0x100, 5);
    ASSERT_EQ(dm.register_port(templ), 4);

    dm.unregister_port(4);
    const uart_port& port = dm.slot(4).port;
    EXPECT_EQ(dm.core().port_at(4), &port) << "re-added to the serial core";
    EXPECT_EQ(port.uart_type, type_unknown);
    EXPECT_EQ(port.port_flags & configure_on_add, 0u);
    EXPECT_EQ(port.owner_device, legacy_device());
    EXPECT_FALSE(dm.ioport_claimed(0x100, 8, "serial"));

    EXPECT_EQ(dm.register_port(templ), 4) << "the slot is taken again";
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
}

// Another driver may hand in any number; only set-up slots are ever touched.
TEST_F(Registration, ExportsIgnoreLinesOutsideTheSetUpSlots) {
    load("nr_uarts=8");
    for (int line : {-1, 8, 31, 32, 1000, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(line);
        dm.unregister_port(line);
        EXPECT_EQ(dm.suspend_port(line), -22);
        EXPECT_EQ(dm.resume_port(line), -22);
    }
    for (unsigned i = 8; i < max_uart_ports; ++i) EXPECT_EQ(dm.slot(i).port.port_ops, nullptr);
    EXPECT_EQ(dm.suspend_port(7), 0);
    EXPECT_EQ(dm.resume_port(7), 0);
}

TEST_F(Registration, RaisingNrUartsAfterLoadNeverReachesSlotsThatWereNotSetUp) {
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, 3);
    load("nr_uarts=2");
    ASSERT_EQ(dm.machine.files().write(nr_uarts_file, "32"), 0);
    uart_port templ = io_template(0x100, 5);
    EXPECT_EQ(dm.register_port(templ), -28);
    EXPECT_EQ(dm.slot(2).port.io_base, 0u);
    EXPECT_EQ(dm.core().port_at(2), nullptr);
    dm.unregister_port(2);
    EXPECT_EQ(dm.core().port_at(2), nullptr);
}

TEST_F(Registration, LoweringNrUartsNarrowsRegistrationButBoardRemovalStillFindsItsPorts) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    load("nr_uarts=8");
    const platform_port_entry entries[] = {board_entry(0x100, 5, skip_test)};
    auto board = sim::kernel::add_serial8250_board(dm.machine, 1, entries);
    ASSERT_TRUE(board);
    ASSERT_EQ(dm.slot(4).port.owner_device, &board.device->dev);

    ASSERT_EQ(dm.machine.files().write(nr_uarts_file, "2"), 0);
    uart_port templ = io_template(0x200, 6);
    EXPECT_EQ(dm.register_port(templ), 0) << "only slots 0 and 1 are offered now";

    sim::kernel::remove_board_device(dm.machine, board.device);
    EXPECT_EQ(dm.slot(4).port.owner_device, legacy_device()) << "no port may keep a device that is gone";
    EXPECT_EQ(dm.slot(4).port.uart_type, type_unknown);
    EXPECT_FALSE(dm.ioport_claimed(0x100, 8, "serial"));
}

class BoardProbe : public Registration {};

TEST_F(BoardProbe, RegistersEachEntryUntilTheClosingOne) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    dm.place_pc_uart(0x108, UartModel::ns16550a, 5);
    load("nr_uarts=8");
    const platform_port_entry entries[] = {board_entry(0x100, 5, skip_test), board_entry(0x108, 5, 0),
                                           board_entry(0x110, 5, skip_test)};
    auto board = sim::kernel::add_serial8250_board(dm.machine, 1, entries);
    ASSERT_TRUE(board);
    ASSERT_NE(board.device->dev.driver, nullptr) << "the probe accepted the device";

    const uart_port& port = dm.slot(4).port;
    EXPECT_EQ(port.io_base, 0x100u);
    EXPECT_EQ(port.owner_device, &board.device->dev);
    EXPECT_EQ(port.port_flags, skip_test | irq_shared | configure_on_add);
    EXPECT_EQ(port.fifo_depth, 16u);
    EXPECT_EQ(dm.slot(5).port.io_base, 0u) << "the entry with flags 0 closes the list";
}

TEST_F(BoardProbe, BoardWithoutPortListRegistersNothingAndStaysBound) {
    load("nr_uarts=8");
    platform_device* device = dm.machine.platform().alloc("serial8250", 2);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(dm.machine.platform().add(device, nullptr), 0);
    EXPECT_NE(device->dev.driver, nullptr);
    for (unsigned i = 4; i < 8; ++i) EXPECT_EQ(dm.slot(i).port.io_base, 0u);
    sim::kernel::remove_board_device(dm.machine, device);
}

TEST_F(BoardProbe, FailingEntryIsLoggedWithItsIndexAndTheNextOneStillRegisters) {
    dm.place_pc_uart(0x108, UartModel::ns16550a, 5);
    load("nr_uarts=8 share_irqs=0");
    const platform_port_entry entries[] = {board_entry(0x100000100, 5, skip_test, 0),
                                           board_entry(0x108, 5, skip_test)};
    auto board = sim::kernel::add_serial8250_board(dm.machine, 1, entries);
    ASSERT_TRUE(board);

    const std::string message =
        "serial8250 serial8250.1: unable to register port at index 0 (IO100000100 MEM0 IRQ5): -22";
    bool found = false;
    for (const auto& record : dm.machine.log().records()) {
        if (record.text == message) {
            found = true;
            EXPECT_EQ(record.priority, 3);
        }
    }
    EXPECT_TRUE(found) << dm.machine.log().dmesg();
    EXPECT_EQ(dm.slot(4).port.io_base, 0x108u);
    EXPECT_EQ(dm.slot(4).port.port_flags, skip_test | configure_on_add) << "no sharing with share_irqs=0";
}

TEST_F(BoardProbe, RemovalUnregistersOnlyTheBoardsOwnPorts) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    dm.place_pc_uart(0x200, UartModel::ns16550a, 6);
    load("nr_uarts=8");
    uart_port other = io_template(0x200, 6);
    ASSERT_EQ(dm.register_port(other), 4);
    const platform_port_entry entries[] = {board_entry(0x100, 5, skip_test)};
    auto board = sim::kernel::add_serial8250_board(dm.machine, 1, entries);
    ASSERT_EQ(dm.slot(5).port.owner_device, &board.device->dev);

    sim::kernel::remove_board_device(dm.machine, board.device);
    EXPECT_EQ(dm.slot(5).port.uart_type, type_unknown);
    EXPECT_EQ(dm.slot(5).port.owner_device, legacy_device());
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_TRUE(dm.ioport_claimed(0x200, 8, "serial"));
    EXPECT_FALSE(dm.ioport_claimed(0x100, 8, "serial"));
}

TEST_F(BoardProbe, SystemSleepPutsTheBoardsUartsToSleepAndWakesThem) {
    auto& chip = dm.place_pc_uart(0x100, UartModel::ti16c750, 5);
    load("nr_uarts=8");
    const platform_port_entry entries[] = {board_entry(0x100, 5, skip_test)};
    ASSERT_TRUE(sim::kernel::add_serial8250_board(dm.machine, 1, entries));
    ASSERT_EQ(dm.slot(4).port.uart_type, type_16750);

    ASSERT_EQ(dm.machine.suspend_devices(), 0);
    EXPECT_TRUE(chip.asleep());
    dm.machine.resume_devices();
    EXPECT_FALSE(chip.asleep());

    EXPECT_EQ(dm.suspend_port(4), 0);
    EXPECT_TRUE(chip.asleep());
    EXPECT_EQ(dm.resume_port(4), 0);
    EXPECT_FALSE(chip.asleep());
}

TEST_F(Registration, EarlySetupFillsASlotBelow32Only) {
    load("nr_uarts=4");
    auto early_serial_setup = dm.function<int(uart_port*)>("early_serial_setup");
    uart_port record = io_template(0x3f8, 4);
    record.line_index = 31;
    EXPECT_EQ(early_serial_setup(&record), 0);
    EXPECT_EQ(dm.slot(31).port.io_base, 0x3f8u);
    EXPECT_EQ(dm.slot(31).port.port_ops, dm.symbol<const uart_ops>("serial8250_pops"));

    record.line_index = 32;
    record.io_base = 0x2f8;
    EXPECT_EQ(early_serial_setup(&record), -19);
    EXPECT_EQ(dm.slot(31).port.io_base, 0x3f8u);
    EXPECT_EQ(early_serial_setup(nullptr), -22);
}

}  // namespace
}  // namespace driver_test
