// OUT1 and OUT2 at startup and shutdown. On PC cards OUT2 gates the UART's interrupt onto the
// bus; a four-port board gates its ports' interrupts itself and uses OUT1 instead, and its own
// interrupt register is switched on at startup.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sim/hw/board/four_port_board.h"
#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;

enum class Board : std::uint8_t { four_port, pc_card };

struct OutputsCase {
    const char* what;
    Board board;
    bool has_line;
    unsigned int modem_ctrl_before;
    std::uint8_t mcr_at_startup;
    unsigned int modem_ctrl_after_startup;
    std::uint8_t mcr_at_shutdown;
    unsigned int modem_ctrl_after_shutdown;
};

class ModemOutputs : public ::testing::TestWithParam<OutputsCase> {
protected:
    // The port under test: slot 4 on a four-port board at 0x1a0 (line 9), or a PC card at 0x100
    // (line 5 or none).
    serial8250_uart& place_and_register(const OutputsCase& c) {
        if (c.board == Board::four_port) {
            std::array<sim::hw::UartRegisters*, 4> chips{};
            for (auto& chip : chips) chip = &dm.add_chip(UartModel::ns16550a);
            dm.place<sim::hw::FourPortBoard>(dm.machine.bus(), dm.machine.interrupt_controller(), chips,
                                             std::uint16_t{0x1a0}, InterruptWiring::edge(9));
        } else {
            dm.place_pc_uart(0x100, UartModel::ns16550a, c.has_line ? InterruptWiring::edge(5) : InterruptWiring::none());
        }
        EXPECT_TRUE(dm.load("nr_uarts=8"));
        const std::uint32_t base = c.board == Board::four_port ? 0x1a0 : 0x100;
        const std::uint32_t line = c.has_line ? (c.board == Board::four_port ? 9 : 5) : 0;
        uart_port templ = io_template(base, line, c.board == Board::four_port ? four_port : 0);
        EXPECT_EQ(dm.register_port(templ), 4);
        return dm.slot(4);
    }

    std::vector<RegisterAccess> board_register_accesses() {
        std::vector<RegisterAccess> out;
        for (const RegisterAccess& access : dm.register_trace())
            if (access.name == "FOURPORT_IRQ") out.push_back(access);
        return out;
    }
    // Whether every access to the board register is followed by the I/O pause (port 0x80).
    bool board_accesses_paused() {
        const auto trace = dm.machine.bus().trace();
        for (std::size_t i = 0; i < trace.size(); ++i) {
            if (trace[i].register_name != "FOURPORT_IRQ") continue;
            if (i + 1 == trace.size() || trace[i + 1].kind != sim::hw::AccessKind::io_write ||
                trace[i + 1].address != 0x80)
                return false;
        }
        return true;
    }

    DriverMachine dm;
};

TEST_P(ModemOutputs, StartupAndShutdownSetTheGateTheBoardNeeds) {
    const OutputsCase c = GetParam();
    serial8250_uart& up = place_and_register(c);
    ASSERT_EQ(up.port.uart_type, type_16550a);
    up.port.modem_ctrl = c.modem_ctrl_before;

    dm.start_trace();
    ASSERT_EQ(start_port(up), 0);
    EXPECT_EQ(writes_to(dm.register_trace(), "MCR"), std::vector<std::uint8_t>{c.mcr_at_startup});
    EXPECT_EQ(up.port.modem_ctrl, c.modem_ctrl_after_startup);
    if (c.board == Board::four_port) {
        EXPECT_EQ(board_register_accesses(), (std::vector{wr("FOURPORT_IRQ", 0x80), rd("FOURPORT_IRQ")}));
        EXPECT_TRUE(board_accesses_paused());
    } else {
        EXPECT_TRUE(board_register_accesses().empty());
    }

    dm.start_trace();
    stop_port(up);
    EXPECT_EQ(writes_to(dm.register_trace(), "MCR"), std::vector<std::uint8_t>{c.mcr_at_shutdown});
    EXPECT_EQ(up.port.modem_ctrl, c.modem_ctrl_after_shutdown);
    if (c.board == Board::four_port) {
        EXPECT_EQ(board_register_accesses(), (std::vector{rd("FOURPORT_IRQ")}));
        EXPECT_FALSE(board_accesses_paused()) << "shutdown's read of the board register is a plain one";
    }
}

// MCR: DTR 0x01, OUT1 0x04, OUT2 0x08.
INSTANTIATE_TEST_SUITE_P(
    Boards, ModemOutputs,
    ::testing::Values(
        OutputsCase{"FourPortWithLineSetsNeither", Board::four_port, true, 0, 0x00, 0, 0x04, TIOCM_OUT1},
        OutputsCase{"FourPortWithLineLeavesOut2Alone", Board::four_port, true, TIOCM_OUT2, 0x08, TIOCM_OUT2, 0x0c,
                    TIOCM_OUT1 | TIOCM_OUT2},
        OutputsCase{"FourPortPolledSetsOut1", Board::four_port, false, 0, 0x04, TIOCM_OUT1, 0x04, TIOCM_OUT1},
        OutputsCase{"PcCardWithLineSetsOut2", Board::pc_card, true, 0, 0x08, TIOCM_OUT2, 0x00, 0},
        OutputsCase{"PcCardPolledSetsNothing", Board::pc_card, false, TIOCM_DTR, 0x01, TIOCM_DTR, 0x01, TIOCM_DTR},
        OutputsCase{"PcCardShutdownClearsOut2", Board::pc_card, false, TIOCM_DTR | TIOCM_OUT2 | TIOCM_OUT1, 0x0d,
                    TIOCM_DTR | TIOCM_OUT2 | TIOCM_OUT1, 0x05, TIOCM_DTR | TIOCM_OUT1}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
