// Type detection step by step: the register sequence on the bus, the tests it may skip, FIFO
// measurement, divisor identification and the NS16550A's clock switch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/hw/uart/odd_uarts.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

constexpr std::uint16_t base = 0x100;

// A slot the load did not use, made ready for direct calls into the detection code.
serial8250_uart& spare_slot(DriverMachine& dm, std::uint32_t io_base, std::uint32_t flags = 0) {
    serial8250_uart& up = dm.slot(20);
    up = serial8250_uart{};
    spin_lock_init(&up.port.port_lock);
    up.port.line_index = 20;
    up.port.io_base = io_base;
    up.port.uart_clock_hz = standard_clock_hz;
    up.port.port_flags = flags;
    return up;
}

sim::hw::UartFaults ier_reads_zero() {
    sim::hw::UartFaults faults;
    faults.ier_reads_zero = true;
    return faults;
}
sim::hw::UartFaults loopback_broken() {
    sim::hw::UartFaults faults;
    faults.loopback_broken = true;
    return faults;
}
sim::hw::UartFaults dr_stuck() {
    sim::hw::UartFaults faults;
    faults.dr_stuck = true;
    return faults;
}

void program_divisor(sim::hw::UartRegisters& chip, std::uint16_t divisor, std::uint8_t lcr = 0x00) {
    chip.write(3, 0x80);
    chip.write(0, static_cast<std::uint8_t>(divisor));
    chip.write(1, static_cast<std::uint8_t>(divisor >> 8));
    chip.write(3, lcr);
}

TEST(DetectionSequence, A16550AIsTestedRegisterByRegister) {
    DriverMachine dm;
    dm.place_pc_uart(base, UartModel::ns16550a, 5);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    dm.start_trace();
    uart_port templ = io_template(base, 5);
    ASSERT_EQ(dm.register_port(templ), 4);
    ASSERT_EQ(dm.slot(4).port.uart_type, type_16550a);

    const std::vector<RegisterAccess> expected = {
        // Something answers IER the way a UART does.
        rd("IER"), wr("IER", 0x00), rd("IER"), wr("IER", 0x0f), rd("IER"), wr("IER", 0x00),
        rd("MCR"), rd("LCR"),
        // Loopback: RTS comes back as CTS, OUT2 as DCD.
        wr("MCR", 0x1a), rd("MSR"), wr("MCR", 0x00),
        // Clear any EFR, then ask for FIFOs.
        wr("LCR", 0xbf), wr("FCR", 0x00), wr("LCR", 0x00), wr("FCR", 0x01), rd("IIR"),
        // No EFR under the divisor latch, none under LCR 0xbf.
        wr("LCR", 0x80), rd("IIR"), wr("LCR", 0xbf), rd("IIR"),
        // Not an NS16550A: bank 2 does not follow MCR bit 4.
        wr("LCR", 0x00), rd("MCR"), wr("LCR", 0xe0), rd("IIR"),
        wr("LCR", 0x00), wr("MCR", 0x10), wr("LCR", 0xe0), rd("IIR"), wr("LCR", 0x00), wr("MCR", 0x00),
        // Not a TI16750: no 64-byte mode in IIR.
        wr("LCR", 0x00), wr("FCR", 0x21), rd("IIR"), wr("FCR", 0x01),
        wr("LCR", 0x80), wr("FCR", 0x21), rd("IIR"), wr("FCR", 0x01), wr("LCR", 0x00),
        // Not an XScale: IER bit 6 does not stick.
        rd("IER"), wr("IER", 0x00), rd("IER"), wr("IER", 0x40), rd("IER"), wr("IER", 0x00),
        wr("LCR", 0x00),
        // Quiet: MCR back, FIFOs cleared and off, receiver read empty, interrupts off.
        wr("MCR", 0x00), wr("FCR", 0x01), wr("FCR", 0x07), wr("FCR", 0x00), rd("RBR"), wr("IER", 0x00),
    };
    const std::vector<RegisterAccess> trace = dm.register_trace("serial");
    ASSERT_GE(trace.size(), expected.size());
    EXPECT_EQ(std::vector<RegisterAccess>(trace.begin(), trace.begin() + static_cast<long>(expected.size())),
              expected);
}

TEST(DetectionSequence, PortFlagsSkipThePresenceAndLoopbackTests) {
    struct Case {
        std::uint32_t flags;
        std::vector<RegisterAccess> opening;
    };
    const Case cases[] = {
        {skip_test, {rd("IER"), wr("IER", 0x00), rd("IER"), wr("IER", 0x0f), rd("IER"), wr("IER", 0x00),
                     rd("MCR"), rd("LCR"), wr("LCR", 0xbf)}},
        {no_presence_test, {rd("MCR"), rd("LCR"), wr("MCR", 0x1a), rd("MSR"), wr("MCR", 0x00)}},
        {no_presence_test | skip_test, {rd("MCR"), rd("LCR"), wr("LCR", 0xbf)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        DriverMachine dm;
        dm.place_pc_uart(base, UartModel::ns16550a, 5);
        ASSERT_TRUE(dm.load("nr_uarts=8"));
        dm.start_trace();
        uart_port templ = io_template(base, 5, c.flags);
        ASSERT_EQ(dm.register_port(templ), 4);
        EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
        const auto trace = dm.register_trace("serial");
        ASSERT_GE(trace.size(), c.opening.size());
        EXPECT_EQ(std::vector<RegisterAccess>(trace.begin(), trace.begin() + static_cast<long>(c.opening.size())),
                  c.opening);
    }
}

// What a chip that fails the early tests shows, and what is then left of the port.
TEST(DetectionOutcome, ChipsThatFailTheEarlyTestsKeepTheEarlierTypeOrGetNone) {
    struct Case {
        const char* what;
        sim::hw::UartFaults faults;
        std::uint32_t flags;
        std::uint32_t expected_type;
    };
    const Case cases[] = {
        {"IER does not read back", ier_reads_zero(), 0, 7},
        {"loopback does not loop", loopback_broken(), 0, 7},
        {"loopback broken but not tested", loopback_broken(), skip_test, type_16550a},
        {"IER broken but not tested", ier_reads_zero(), no_presence_test, type_16550a},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DriverMachine dm;
        auto& chip = dm.place_pc_uart(base, UartModel::ns16550a, 5);
        chip.set_faults(c.faults);
        ASSERT_TRUE(dm.load());
        auto config_port = dm.function<void(uart_port*, int)>("serial8250_config_port");
        serial8250_uart& up = spare_slot(dm, base, c.flags);
        up.port.uart_type = 7;
        config_port(&up.port, want_type_detect);
        EXPECT_EQ(up.port.uart_type, c.expected_type);
        EXPECT_TRUE(dm.ioport_claimed(base, 8, "serial")) << "a port of known type keeps its region";
    }

    DriverMachine dm;
    auto& scripted = dm.place<sim::hw::ScriptedUart>(dm.machine.events(), &dm.add_chip(UartModel::ns16550a));
    dm.place<sim::hw::PcSerialCard>(dm.machine.bus(), dm.machine.interrupt_controller(), scripted, base,
                                    sim::hw::InterruptWiring::none());
    scripted.script_reads(2, {0x41});  // IIR bits 7-6: 01, a FIFO that no part has
    ASSERT_TRUE(dm.load());
    auto config_port = dm.function<void(uart_port*, int)>("serial8250_config_port");
    serial8250_uart& up = spare_slot(dm, base, 0);
    up.port.uart_type = 7;
    config_port(&up.port, want_type_detect | want_irq_probe);
    EXPECT_EQ(up.port.uart_type, type_unknown);
    EXPECT_EQ(dm.proc_ioports(), "") << "no UART, no region";
}

TEST(DetectionOutcome, PortWithoutAnyAddressIsNotTouched) {
    DriverMachine dm;
    ASSERT_TRUE(dm.load());
    auto config_port = dm.function<void(uart_port*, int)>("serial8250_config_port");
    serial8250_uart& up = spare_slot(dm, 0);
    dm.start_trace();
    config_port(&up.port, want_type_detect | want_irq_probe);
    EXPECT_EQ(up.port.uart_type, type_unknown);
    EXPECT_TRUE(dm.machine.bus().trace().empty());
    EXPECT_EQ(dm.proc_ioports(), "");
}

TEST(DetectionOutcome, Revision1Of16C952GetsTheDivisorQuirkRevision2DoesNot) {
    for (const auto& [model, quirk] : {std::pair{UartModel::ox16c952_rev1, quirk_quot},
                                      std::pair{UartModel::ox16c952_rev2, std::uint16_t{0}}}) {
        DriverMachine dm;
        dm.place_pc_uart(base, model, 5);
        ASSERT_TRUE(dm.load("nr_uarts=8"));
        uart_port templ = io_template(base, 5);
        ASSERT_EQ(dm.register_port(templ), 4);
        EXPECT_EQ(dm.slot(4).port.uart_type, type_16c950);
        EXPECT_EQ(dm.slot(4).quirk_flags, quirk);
    }
}

TEST(NatSemi, SwitchingToTheFastClockScalesTheDivisorLatchByEight) {
    struct Case {
        std::uint16_t latch;
        std::uint16_t expected;
    };
    for (const Case c : {Case{12, 96}, Case{1, 8}, Case{0x1fff, 0xfff8}, Case{0x2000, 0}, Case{0x2001, 8}}) {
        SCOPED_TRACE(testing::Message() << "latch " << c.latch);
        DriverMachine dm;
        auto& chip = dm.place_pc_uart(base, UartModel::ns_pc8733x, 5);
        program_divisor(chip, c.latch);
        ASSERT_TRUE(dm.load("nr_uarts=8"));
        uart_port templ = io_template(base, 5);
        ASSERT_EQ(dm.register_port(templ), 4);
        EXPECT_EQ(dm.slot(4).port.uart_type, type_ns16550a);
        EXPECT_EQ(dm.slot(4).port.uart_clock_hz, 14745600u);
        EXPECT_EQ(chip.divisor(), c.expected);
    }
}

// "WARNING: at <source>:<line> size_fifo()", the source named relative to the tree.
bool is_size_fifo_warning(std::string_view text) {
    constexpr std::string_view head = "WARNING: at drivers/serial/8250/autoconfig.cpp:";
    constexpr std::string_view tail = " size_fifo()";
    if (!text.starts_with(head) || !text.ends_with(tail)) return false;
    const std::string_view line = text.substr(head.size(), text.size() - head.size() - tail.size());
    return !line.empty() && line.find_first_not_of("0123456789") == std::string_view::npos;
}

class FifoMeasurement : public ::testing::Test {
protected:
    void place(UartModel model, sim::hw::UartFaults faults = {}) {
        chip = &dm.place_pc_uart(base, model, 5);
        chip->set_faults(faults);
        ASSERT_TRUE(dm.load());
        size_fifo = dm.function<unsigned(serial8250_uart*)>("size_fifo");
        up = &spare_slot(dm, base);
    }
    DriverMachine dm;
    sim::hw::UartChip* chip = nullptr;
    serial8250_uart* up = nullptr;
    unsigned (*size_fifo)(serial8250_uart*) = nullptr;
};

TEST_F(FifoMeasurement, CountsWhatTheReceiverHoldsAndRestoresTheLine) {
    place(UartModel::st16c654);
    program_divisor(*chip, 12, 0x1b);
    chip->write(4, 0x03);
    EXPECT_EQ(size_fifo(up), 64u);
    EXPECT_EQ(chip->divisor(), 12);
    EXPECT_EQ(chip->lcr(), 0x1b);
    EXPECT_EQ(chip->mcr(), 0x03);
}

TEST_F(FifoMeasurement, ChipThatLoopsNothingBackMeasuresZero) {
    place(UartModel::ns16550a, loopback_broken());
    EXPECT_EQ(size_fifo(up), 0u);
}

TEST_F(FifoMeasurement, ChipWhoseDataReadyNeverClearsStopsAt256) {
    place(UartModel::ns16550a, dr_stuck());
    EXPECT_EQ(size_fifo(up), 256u);
}

TEST_F(FifoMeasurement, WarnsOnceWithItsPositionWhenCalledFromAnInterruptHandler) {
    place(UartModel::ns16550a);
    auto& cpu = dm.machine.cpu();
    for (int call = 0; call < 2; ++call) {
        cpu.enter_hardirq(5);
        EXPECT_EQ(size_fifo(up), 16u) << "the measurement still happens";
        cpu.exit_hardirq();
    }
    std::size_t warnings = 0;
    std::size_t after_warning = 0;
    const auto& records = dm.machine.log().records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (is_size_fifo_warning(records[i].text)) {
            ++warnings;
            after_warning = records.size() - i - 1;
        }
    }
    EXPECT_EQ(warnings, 1u) << dm.machine.log().dmesg();
    EXPECT_GT(after_warning, 0u) << "a stack dump follows the warning";

    dm.machine.log().clear();
    EXPECT_EQ(size_fifo(up), 16u);
    EXPECT_FALSE(dm.machine.log().contains("WARNING")) << "process context is where it belongs";
}

TEST(DivisorId, ReadsBackTheLatchAfterZeroingItAndRestoresIt) {
    struct Case {
        UartModel model;
        unsigned id;
    };
    for (const Case c : {Case{UartModel::xr16c850, 0x1003}, Case{UartModel::xr16c2550_a2, 0x0201},
                         Case{UartModel::ns16550a, 0x0000}}) {
        DriverMachine dm;
        auto& chip = dm.place_pc_uart(base, c.model, 5);
        program_divisor(chip, 0x0306, 0x03);
        ASSERT_TRUE(dm.load());
        auto read_id = dm.function<unsigned(serial8250_uart*)>("autoconfig_read_divisor_id");
        EXPECT_EQ(read_id(&spare_slot(dm, base)), c.id);
        EXPECT_EQ(chip.divisor(), 0x0306);
        EXPECT_EQ(chip.lcr(), 0x03);
    }
}

}  // namespace
}  // namespace driver_test
