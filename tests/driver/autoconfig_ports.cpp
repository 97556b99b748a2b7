// Autoconfiguration of whole machines: the legacy PC ports, the interrupt-line probe, the
// four-port board, and RSA boards with their second register region.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/hw/board/four_port_board.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;

TEST(LegacyPc, PortsWithAUartHoldTheirRegionsAndEmptySocketsHoldNone) {
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    dm.place_pc_uart(0x2f8, UartModel::ns16450, 3);
    ASSERT_TRUE(dm.load());

    EXPECT_EQ(dm.slot(0).port.uart_type, type_16550a);
    EXPECT_EQ(dm.slot(1).port.uart_type, type_16450);
    EXPECT_EQ(dm.slot(2).port.uart_type, type_unknown);
    EXPECT_EQ(dm.slot(3).port.uart_type, type_unknown);
    EXPECT_EQ(dm.proc_ioports(), "02f8-02ff : serial\n03f8-03ff : serial\n");
    EXPECT_TRUE(dm.machine.log().contains("serial8250: ttyS0 at I/O 0x3f8 (irq = 4) is a 16550A"));
    EXPECT_TRUE(dm.machine.log().contains("serial8250: ttyS1 at I/O 0x2f8 (irq = 3) is a 16450"));
    EXPECT_FALSE(dm.machine.log().contains("ttyS2 at"));
}

TEST(InterruptProbe, FindsTheLineEachUartIsWiredToAndNoneForAnUnwiredOne) {
    DriverMachine dm;
    dm.place_pc_uart(0x3f8, UartModel::ns16550a, 7);  // not the customary line 4
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, InterruptWiring::none());
    ASSERT_TRUE(dm.load());
    EXPECT_EQ(dm.slot(0).port.irq_line, 7u);
    EXPECT_EQ(dm.slot(1).port.irq_line, 0u);
    EXPECT_EQ(dm.slot(1).port.uart_type, type_16550a) << "the probe does not decide the type";
}

TEST(InterruptProbe, RestoresTheUartsModemAndInterruptControl) {
    DriverMachine dm;
    auto& chip = dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    ASSERT_TRUE(dm.load("nr_uarts=1"));
    EXPECT_EQ(chip.mcr(), 0x00);
    EXPECT_EQ(chip.ier(), 0x00);
    EXPECT_FALSE(chip.interrupt_output());
}

TEST(InterruptProbe, FourPortBoardIsEnabledThroughItsOwnRegisterWithSlowAccesses) {
    DriverMachine dm;
    std::array<sim::hw::UartRegisters*, 4> chips{};
    for (auto& chip : chips) chip = &dm.add_chip(UartModel::ns16550a);
    auto& board = dm.place<sim::hw::FourPortBoard>(dm.machine.bus(), dm.machine.interrupt_controller(), chips,
                                                   std::uint16_t{0x1a0}, InterruptWiring::edge(9));
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    dm.start_trace();
    uart_port templ = io_template(0x1a0, 0, four_port | irq_autoprobe);
    ASSERT_EQ(dm.register_port(templ), 4);
    EXPECT_EQ(dm.slot(4).port.irq_line, 9u);
    EXPECT_EQ(board.board_register() & sim::hw::FourPortBoard::enable_bit, 0) << "board register put back";

    // Every access to the board's register is followed by the I/O pause.
    const auto trace = dm.machine.bus().trace();
    const std::vector<RegisterAccess> named = dm.register_trace();
    std::vector<RegisterAccess> board_accesses;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].register_name != "FOURPORT_IRQ") continue;
        board_accesses.push_back(named[i]);
        ASSERT_LT(i + 1, trace.size());
        EXPECT_EQ(trace[i + 1].kind, sim::hw::AccessKind::io_write);
        EXPECT_EQ(trace[i + 1].address, 0x80u);
    }
    const std::vector<RegisterAccess> expected = {rd("FOURPORT_IRQ"), wr("FOURPORT_IRQ", 0x80), rd("FOURPORT_IRQ"),
                                                  wr("FOURPORT_IRQ", 0x00)};
    EXPECT_EQ(board_accesses, expected);
    // The board gates the interrupt itself: OUT2 stays off during the probe.
    bool raised_lines = false;
    for (const RegisterAccess& access : dm.register_trace("fourport")) {
        if (access.is_write && access.name == "MCR" && access.value == 0x03) raised_lines = true;
        if (access.is_write && access.name == "MCR") {
            EXPECT_NE(access.value, 0x0b);
        }
    }
    EXPECT_TRUE(raised_lines);
}

class RsaBoard : public ::testing::Test {
protected:
    void place() { board = &dm.place_rsa_board(0x100, 5); }
    int register_board_port() {
        uart_port templ = io_template(0x100, 5);
        return dm.register_port(templ);
    }
    bool rsa_registers_touched() {
        for (const sim::hw::BusAccess& access : dm.machine.bus().trace()) {
            if (access.register_name.starts_with("RSA_")) return true;
        }
        return false;
    }
    DriverMachine dm;
    sim::hw::RsaBoard* board = nullptr;
};

TEST_F(RsaBoard, ListedBoardRunsInFifoModeAndHoldsBothRegions) {
    place();
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    ASSERT_EQ(register_board_port(), 4);
    const serial8250_uart& up = dm.slot(4);
    EXPECT_EQ(up.port.uart_type, type_rsa);
    EXPECT_EQ(up.port.uart_clock_hz, 14745600u);
    EXPECT_EQ(up.port.fifo_depth, 2048u);
    EXPECT_TRUE(board->fifo_mode());
    EXPECT_TRUE(dm.ioport_claimed(0x100, 8, "serial"));
    EXPECT_TRUE(dm.ioport_claimed(0xf8, 8, "serial-rsa"));
    EXPECT_TRUE(dm.machine.log().contains("ttyS4 at I/O 0x100 (irq = 5) is a RSA"));

    dm.unregister_port(4);
    EXPECT_EQ(dm.proc_ioports(), "") << "both regions go back with the port";
}

TEST_F(RsaBoard, UnlistedBoardIsAPlain16550A) {
    place();
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x200"));
    dm.start_trace();
    ASSERT_EQ(register_board_port(), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_EQ(dm.slot(4).port.uart_clock_hz, standard_clock_hz);
    EXPECT_FALSE(rsa_registers_touched());
    EXPECT_EQ(dm.proc_ioports(), "0100-0107 : serial\n");
}

TEST_F(RsaBoard, BoardWithoutFifoOptionStaysA16550A) {
    place();
    board->set_fifo_option(false);
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    ASSERT_EQ(register_board_port(), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_EQ(dm.slot(4).port.uart_clock_hz, standard_clock_hz);
    EXPECT_FALSE(dm.ioport_claimed(0xf8, 8, "serial-rsa"));
}

TEST_F(RsaBoard, BusyRsaRegionMeansNoRsaProbe) {
    place();
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    ASSERT_NE(dm.machine.ioports().request_region(nullptr, 0xf8, 8, "video"), nullptr);
    dm.start_trace();
    ASSERT_EQ(register_board_port(), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_16550a);
    EXPECT_FALSE(rsa_registers_touched()) << "ports someone else holds are not probed";
    EXPECT_TRUE(dm.ioport_claimed(0xf8, 8, "video"));
    EXPECT_TRUE(dm.ioport_claimed(0x100, 8, "serial"));
}

TEST_F(RsaBoard, RequestWithBusyRsaRegionFailsHoldingNothing) {
    place();
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    ASSERT_EQ(register_board_port(), 4);
    uart_port* port = &dm.slot(4).port;
    ASSERT_EQ(port->uart_type, type_rsa);

    port->port_ops->release_port(port);
    EXPECT_EQ(dm.proc_ioports(), "");
    ASSERT_NE(dm.machine.ioports().request_region(nullptr, 0xf8, 8, "video"), nullptr);
    EXPECT_EQ(port->port_ops->request_port(port), -16);
    EXPECT_EQ(dm.proc_ioports(), "00f8-00ff : video\n");

    ASSERT_TRUE(dm.machine.ioports().release_region(nullptr, 0xf8, 8));
    EXPECT_EQ(port->port_ops->request_port(port), 0);
    EXPECT_TRUE(dm.ioport_claimed(0x100, 8, "serial"));
    EXPECT_TRUE(dm.ioport_claimed(0xf8, 8, "serial-rsa"));
}

TEST_F(RsaBoard, BusyStandardRegionLeavesThePortUntouched) {
    place();
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    ASSERT_NE(dm.machine.ioports().request_region(nullptr, 0x100, 8, "other"), nullptr);
    dm.start_trace();
    ASSERT_EQ(register_board_port(), 4);
    EXPECT_EQ(dm.slot(4).port.uart_type, type_unknown);
    EXPECT_TRUE(dm.machine.bus().trace().empty()) << "no register of a port someone else holds is touched";
    EXPECT_EQ(dm.proc_ioports(), "0100-0107 : other\n");
}

}  // namespace
}  // namespace driver_test
