// Register regions and windows of memory-mapped ports: what is claimed, mapped and given back
// for each access kind, and ports whose registers cannot be reached.
#include <gtest/gtest.h>

#include <string>

#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::kernel::FaultPoint;

constexpr std::uint64_t window_phys = 0xfe001000;

uart_port mem_template(std::uint8_t kind, std::uint64_t phys, std::uint8_t shift, std::uint32_t flags) {
    uart_port templ{};
    templ.access_kind = kind;
    templ.reg_window_phys = phys;
    templ.reg_shift = shift;
    templ.uart_clock_hz = standard_clock_hz;
    templ.port_flags = flags;
    return templ;
}

class MemoryPorts : public ::testing::Test {
protected:
    bool iomem_claimed(std::uint64_t start, std::uint64_t length) {
        return dm.machine.iomem().claimed(start, length, "serial");
    }
    DriverMachine dm;
};

TEST_F(MemoryPorts, Mem8WithMapOnRequestIsClaimedMappedAndGivenBackWithThePort) {
    dm.place_mmio_uart(window_phys, 0, UartModel::ns16550a);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    const std::size_t mappings_before = dm.machine.mappings().count();
    uart_port templ = mem_template(access_mem8, window_phys, 0, map_on_request);
    ASSERT_EQ(dm.register_port(templ), 4);

    const uart_port& port = dm.slot(4).port;
    EXPECT_EQ(port.uart_type, type_16550a);
    EXPECT_TRUE(iomem_claimed(window_phys, 8));
    ASSERT_NE(port.reg_window, nullptr);
    EXPECT_EQ(dm.machine.mappings().physical(port.reg_window, 1), window_phys);
    EXPECT_EQ(dm.machine.mappings().count(), mappings_before + 1);
    EXPECT_TRUE(dm.machine.log().contains("ttyS4 at MMIO 0xfe001000 (irq = 0) is a 16550A"))
        << dm.machine.log().dmesg();

    dm.unregister_port(4);
    EXPECT_EQ(port.reg_window, nullptr);
    EXPECT_EQ(dm.machine.mappings().count(), mappings_before);
    EXPECT_FALSE(iomem_claimed(window_phys, 8));
}

TEST_F(MemoryPorts, FailedMappingGivesTheRegionBack) {
    dm.place_mmio_uart(window_phys, 0, UartModel::ns16550a);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    dm.machine.faults().fail_next(FaultPoint::ioremap);
    uart_port templ = mem_template(access_mem8, window_phys, 0, map_on_request);
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_unknown);
    EXPECT_EQ(dm.slot(4).port.reg_window, nullptr);
    EXPECT_FALSE(iomem_claimed(window_phys, 8));

    uart_port* port = &dm.slot(4).port;
    dm.machine.faults().fail_next(FaultPoint::ioremap);
    EXPECT_EQ(port->port_ops->request_port(port), -12);
    EXPECT_EQ(port->reg_window, nullptr);
    EXPECT_FALSE(iomem_claimed(window_phys, 8));
}

TEST_F(MemoryPorts, SpacedMem8RegionCoversEightSpacedRegisters) {
    dm.place_mmio_uart(window_phys, 2, UartModel::ns16550a);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    uart_port templ = mem_template(access_mem8, window_phys, 2, map_on_request);
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_TRUE(iomem_claimed(window_phys, 32));
}

// The wide-window board decodes a whole 1 MiB; its UART registers are reached by port I/O.
TEST_F(MemoryPorts, WideWindowClaimsItsMegabyteAndTalksThroughPortIo) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 5);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    uart_port templ = mem_template(access_wide_window, 0xfd000000, 0, 0);
    templ.io_base = 0x100;
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_TRUE(iomem_claimed(0xfd000000, 0x100000));
    EXPECT_EQ(dm.proc_ioports(), "") << "no I/O ports are claimed for it";
}

TEST_F(MemoryPorts, Mem8QuirkBoardIsDetectedWithoutEverSeeingIerBit6) {
    auto& chip = dm.add_chip(UartModel::ns16550a);
    auto& board = dm.place<sim::hw::IirWordBoard>(dm.machine.bus(), dm.machine.interrupt_controller(), chip,
                                                  window_phys, sim::hw::InterruptWiring::none());
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    uart_port templ = mem_template(access_mem8_quirk, window_phys, 0, 0);
    templ.reg_window = static_cast<unsigned char*>(dm.machine.mappings().map(window_phys, 8));
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_FALSE(board.hung());
    EXPECT_FALSE(iomem_claimed(window_phys, 8)) << "this kind claims nothing";
}

// Memory-mapped parts have no RSA ports; an RSA address that happens to equal their io_base
// must not send the driver below their window.
TEST_F(MemoryPorts, Mem32PortIsNeverProbedAsAnRsaBoard) {
    dm.place_mmio_uart(window_phys, 2, UartModel::ns16550a);
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0"));
    uart_port templ = mem_template(access_mem32, window_phys, 2, 0);
    templ.reg_window = static_cast<unsigned char*>(dm.machine.mappings().map(window_phys, 32));
    dm.start_trace();
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    for (const sim::hw::BusAccess& access : dm.machine.bus().trace()) {
        EXPECT_GE(access.address, window_phys);
        EXPECT_LT(access.address, window_phys + 32);
    }
}

TEST_F(MemoryPorts, Mem8WithoutAMappedWindowIsNotProbed) {
    dm.place_mmio_uart(window_phys, 0, UartModel::ns16550a);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    dm.start_trace();
    uart_port templ = mem_template(access_mem8, window_phys, 0, 0);  // the caller forgot the mapping
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_unknown);
    EXPECT_TRUE(dm.machine.bus().trace().empty());
    EXPECT_FALSE(iomem_claimed(window_phys, 8));
}

TEST_F(MemoryPorts, Mem8PortsCanNeverHoldAnRsaRegion) {
    ASSERT_TRUE(dm.load());
    auto request_rsa = dm.function<int(serial8250_uart*)>("serial8250_request_rsa_resource");
    serial8250_uart up{};
    up.port.access_kind = access_mem8;
    up.port.reg_window_phys = window_phys;
    EXPECT_EQ(request_rsa(&up), -22);
    for (std::uint8_t kind : {access_mem32, access_wide_window, access_mem8_quirk}) {
        up.port.access_kind = kind;
        EXPECT_EQ(request_rsa(&up), 0) << unsigned{kind};
    }
    EXPECT_EQ(dm.proc_ioports(), "");
}

}  // namespace
}  // namespace driver_test
