// The module's life: load with its parameters, the legacy ports, every failing step of the
// load, unload, and a reload that starts afresh.
#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::kernel::FaultPoint;
using sim::kernel::LogRecord;

constexpr int ttys_major = 4;

const LogRecord* find_line(const sim::kernel::KernelLog& log, std::string_view text) {
    for (const LogRecord& record : log.records()) {
        if (record.text.find(text) != std::string::npos) return &record;
    }
    return nullptr;
}

struct SlotCountCase {
    const char* parameters;
    unsigned slots;  // slots set up and added
    friend std::ostream& operator<<(std::ostream& out, const SlotCountCase& c) { return out << '"' << c.parameters << '"'; }
};

class LoadSlotCount : public ::testing::TestWithParam<SlotCountCase> {};

TEST_P(LoadSlotCount, SetsUpAndAddsTheSlotsNrUartsAsks) {
    const SlotCountCase c = GetParam();
    DriverMachine dm;
    ASSERT_TRUE(dm.load(c.parameters));

    const std::string banner = "Serial: 8250/16550 driver $Revision: 1.90 $ " + std::to_string(c.slots) +
                               " ports, IRQ sharing enabled";
    const LogRecord* line = find_line(dm.machine.log(), banner);
    ASSERT_NE(line, nullptr) << dm.machine.log().dmesg();
    EXPECT_EQ(line->priority, 6);
    EXPECT_EQ(line->text, banner);

    for (unsigned i = 0; i < max_uart_ports; ++i) {
        uart_port* port = dm.core().port_at(i);
        if (i < c.slots) {
            ASSERT_NE(port, nullptr) << "slot " << i;
            EXPECT_EQ(port, &dm.slot(i).port);
            EXPECT_EQ(port->line_index, i);
            EXPECT_EQ(port->port_ops, dm.symbol<const uart_ops>("serial8250_pops"));
            EXPECT_EQ(dm.slot(i).mcr_mask, 0xff);
        } else {
            EXPECT_EQ(port, nullptr) << "slot " << i << " was never set up";
        }
    }
    const std::uint32_t legacy_bases[] = {0x3f8, 0x2f8, 0x3e8, 0x2e8};
    for (unsigned i = 4; i < c.slots; ++i) EXPECT_EQ(dm.slot(i).port.io_base, 0u);
    for (unsigned i = 0; i < 4 && i < c.slots; ++i) EXPECT_EQ(dm.slot(i).port.io_base, legacy_bases[i]);
}

INSTANTIATE_TEST_SUITE_P(NrUarts, LoadSlotCount,
                         ::testing::Values(SlotCountCase{"nr_uarts=0", 0}, SlotCountCase{"nr_uarts=2", 2},
                                           SlotCountCase{"", 4}, SlotCountCase{"nr_uarts=8", 8},
                                           SlotCountCase{"nr_uarts=40", 32}));

TEST(Load, LegacyPortsCarryTheirAddressesLinesClockAndFlags) {
    struct Case {
        const char* parameters;
        std::uint32_t shared;
        const char* word;
    };
    for (const Case c : {Case{"", irq_shared, "en"}, Case{"share_irqs=0", 0, "dis"}}) {
        SCOPED_TRACE(c.parameters);
        DriverMachine dm;
        ASSERT_TRUE(dm.load(c.parameters));
        EXPECT_TRUE(dm.machine.log().contains(std::string("IRQ sharing ") + c.word + "abled"));
        const std::uint32_t lines[] = {4, 3, 4, 3};
        const std::uint32_t flags[] = {0x100000c0, 0x100000c0, 0x100000c0, 0x10000080};
        for (unsigned i = 0; i < 4; ++i) {
            const uart_port& port = dm.slot(i).port;
            EXPECT_EQ(port.irq_line, lines[i]) << i;
            EXPECT_EQ(port.uart_clock_hz, 1843200u) << i;
            EXPECT_EQ(port.port_flags, flags[i] | c.shared) << i;
            EXPECT_EQ(port.access_kind, access_port_io);
            EXPECT_EQ(port.owner_device, &dm.machine.platform().find("serial8250")->dev);
        }
    }
}

TEST(Load, RegistersTheSerialDriverAndTheLegacyDevice) {
    DriverMachine dm;
    ASSERT_TRUE(dm.load());
    const uart_driver* driver = dm.core().driver_for_major(ttys_major);
    ASSERT_NE(driver, nullptr);
    EXPECT_STREQ(driver->driver_name, "serial");
    EXPECT_STREQ(driver->dev_name, "ttyS");
    EXPECT_EQ(driver->minor, 64);
    EXPECT_EQ(driver->nr, 32);
    platform_device* legacy = dm.machine.platform().find("serial8250");
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->id, -1);
    ASSERT_NE(legacy->dev.driver, nullptr) << "the driver binds its own legacy device";
    EXPECT_STREQ(legacy->dev.driver->name, "serial8250");
    for (const char* name : {"serial8250_register_port", "serial8250_unregister_port",
                             "serial8250_suspend_port", "serial8250_resume_port"}) {
        EXPECT_NE(dm.machine.symbols().find(name), nullptr) << name;
        EXPECT_EQ(dm.machine.symbols().owner(name), std::optional<std::string>("8250"));
    }
}

TEST(Load, ParameterFilesHaveTheirModes) {
    DriverMachine dm;
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100,0x2e8"));
    auto& files = dm.machine.files();
    EXPECT_EQ(files.mode("/sys/module/8250/parameters/share_irqs"), 0644u);
    EXPECT_EQ(files.mode("/sys/module/8250/parameters/nr_uarts"), 0644u);
    EXPECT_EQ(files.mode("/sys/module/8250/parameters/probe_rsa"), 0444u);
    EXPECT_EQ(files.read("/sys/module/8250/parameters/nr_uarts").content, "8\n");
    EXPECT_EQ(files.read("/sys/module/8250/parameters/probe_rsa").content, "256,744\n");
    EXPECT_EQ(files.write("/sys/module/8250/parameters/probe_rsa", "1"), -13);
    EXPECT_EQ(files.write("/sys/module/8250/parameters/share_irqs", "0"), 0);
    EXPECT_EQ(files.read("/sys/module/8250/parameters/share_irqs").content, "0\n");
}

TEST(Load, BadParametersFailTheLoadAndLeaveNothingLoaded) {
    for (const char* parameters : {"nr_uarts=many", "probe_rsa=1,2,3,4,5", "share_irqs=-1", "baud=9600",
                                   "nr_uarts=99999999999999999999"}) {
        SCOPED_TRACE(parameters);
        DriverMachine dm;
        const auto result = dm.load(parameters);
        EXPECT_EQ(result.error, -22);
        EXPECT_FALSE(result.message.empty());
        EXPECT_FALSE(dm.loaded());
        EXPECT_EQ(dm.core().driver_for_major(ttys_major), nullptr);
    }
}

// Each failing step gives back what the steps before it took, so the machine looks as if the
// load had never been tried.
struct LoadFault {
    const char* what;
    FaultPoint point;
    int error;
    friend std::ostream& operator<<(std::ostream& out, const LoadFault& c) { return out << c.what; }
};

class LoadFailure : public ::testing::TestWithParam<LoadFault> {};

TEST_P(LoadFailure, LeavesNothingBehind) {
    const LoadFault c = GetParam();
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, 3);
    dm.machine.faults().fail_next(c.point, c.error);

    const auto result = dm.load();
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(dm.machine.faults().failures(c.point), 1u);
    EXPECT_FALSE(dm.loaded());
    EXPECT_EQ(dm.core().driver_for_major(ttys_major), nullptr);
    EXPECT_TRUE(dm.machine.platform().devices().empty());
    EXPECT_TRUE(dm.machine.platform().drivers().empty());
    EXPECT_EQ(dm.proc_ioports(), "");
    EXPECT_EQ(dm.machine.symbols().find("serial8250_register_port"), nullptr);
    EXPECT_FALSE(dm.machine.log().contains("behind")) << dm.machine.log().dmesg();

    // The failure leaves the machine able to load the driver after all.
    ASSERT_TRUE(dm.load());
    EXPECT_EQ(dm.slot(0).port.uart_type, type_16550a);
    EXPECT_TRUE(dm.ioport_claimed(0x3f8, 8, "serial"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoadFailure,
    ::testing::Values(LoadFault{"serial core registration", FaultPoint::allocation, -12},
                      LoadFault{"legacy device allocation", FaultPoint::platform_device_alloc, -12},
                      LoadFault{"legacy device add", FaultPoint::platform_device_add, -19},
                      LoadFault{"platform driver registration", FaultPoint::platform_driver_register, -16}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name) {
            if (ch == ' ') ch = '_';
        }
        return name;
    });

TEST(Unload, RemovesEveryPortAndGivesBackEverything) {
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    uart_port board_port = io_template(0x3f8, 4);
    ASSERT_EQ(dm.register_port(board_port), 0) << "the legacy UART, claimed again";
    ASSERT_TRUE(dm.ioport_claimed(0x3f8, 8, "serial"));

    ASSERT_TRUE(dm.unload());
    EXPECT_EQ(dm.core().driver_for_major(ttys_major), nullptr);
    for (unsigned i = 0; i < max_uart_ports; ++i) EXPECT_EQ(dm.core().port_at(i), nullptr);
    EXPECT_TRUE(dm.machine.platform().devices().empty());
    EXPECT_TRUE(dm.machine.platform().drivers().empty());
    EXPECT_EQ(dm.proc_ioports(), "");
    EXPECT_FALSE(dm.machine.log().contains("still in place")) << dm.machine.log().dmesg();
}

TEST(Reload, StartsFromFreshState) {
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    ASSERT_TRUE(dm.load("nr_uarts=8 share_irqs=0"));
    uart_port templ = io_template(0x100, 5);
    ASSERT_EQ(dm.register_port(templ), 4);
    ASSERT_TRUE(dm.unload());

    dm.machine.log().clear();
    ASSERT_TRUE(dm.load());
    EXPECT_TRUE(dm.machine.log().contains("4 ports, IRQ sharing enabled"));
    EXPECT_EQ(dm.machine.files().read("/sys/module/8250/parameters/nr_uarts").content, "4\n");
    EXPECT_EQ(dm.core().port_at(4), nullptr);
    EXPECT_EQ(dm.slot(4).port.io_base, 0u) << "nothing of the earlier load's registration";
    EXPECT_EQ(dm.slot(4).port.port_ops, nullptr);
    EXPECT_EQ(dm.slot(0).port.uart_type, type_16550a) << "the legacy set-up ran again";
    EXPECT_EQ(dm.slot(0).port.port_flags & irq_shared, irq_shared);
}

}  // namespace
}  // namespace driver_test
