// RSA boards at open and close: startup switches the board's FIFO mode (and with it the fast
// clock) on and resets the board FIFOs; shutdown switches it off and goes back to the standard
// clock only when the board lets go of the mode.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

constexpr std::uint32_t fast_clock = 14745600;
constexpr std::uint32_t standard_clock = 1843200;

std::vector<RegisterAccess> rsa_accesses(const std::vector<RegisterAccess>& trace) {
    std::vector<RegisterAccess> out;
    for (const RegisterAccess& access : trace)
        if (access.name.starts_with("RSA_")) out.push_back(access);
    return out;
}

class RsaPort : public ::testing::Test {
protected:
    void SetUp() override {
        board = &dm.place_rsa_board(0x100, 5);
        ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
        uart_port templ = io_template(0x100, 5);
        ASSERT_EQ(dm.register_port(templ), 4);
        ASSERT_EQ(up().port.uart_type, type_rsa);
        ASSERT_EQ(up().port.uart_clock_hz, fast_clock);
    }
    serial8250_uart& up() { return dm.slot(4); }
    // Open and close once, so that the board is back in its standard mode.
    void cycle_once() {
        ASSERT_EQ(start_port(up()), 0);
        stop_port(up());
        ASSERT_EQ(up().port.uart_clock_hz, standard_clock);
    }

    DriverMachine dm;
    sim::hw::RsaBoard* board = nullptr;
};

TEST_F(RsaPort, StartupInFifoModeOnlyResetsTheBoardFifos) {
    dm.start_trace();
    ASSERT_EQ(start_port(up()), 0);
    EXPECT_EQ(rsa_accesses(dm.register_trace()), (std::vector{wr("RSA_FRR", 0x00)}));
    EXPECT_TRUE(board->fifo_mode());
    stop_port(up());
}

TEST_F(RsaPort, ShutdownSwitchesOffAndStartupSwitchesOnAgain) {
    ASSERT_EQ(start_port(up()), 0);
    dm.start_trace();
    stop_port(up());
    EXPECT_EQ(rsa_accesses(dm.register_trace()),
              (std::vector{rd("RSA_MSR"), wr("RSA_MSR", 0x00), rd("RSA_MSR")}));
    EXPECT_FALSE(board->fifo_mode());
    EXPECT_EQ(up().port.uart_clock_hz, standard_clock);

    dm.start_trace();
    ASSERT_EQ(start_port(up()), 0);
    EXPECT_EQ(rsa_accesses(dm.register_trace()),
              (std::vector{rd("RSA_MSR"), wr("RSA_MSR", 0x04), rd("RSA_MSR"), wr("RSA_FRR", 0x00)}));
    EXPECT_TRUE(board->fifo_mode());
    EXPECT_EQ(up().port.uart_clock_hz, fast_clock);
    stop_port(up());
}

TEST_F(RsaPort, FailedSwitchOnKeepsTheStandardClockAndLeavesTheFifosAlone) {
    cycle_once();
    board->set_fifo_option(false);
    dm.start_trace();
    ASSERT_EQ(start_port(up()), 0) << "the port still works as a 16550A";
    EXPECT_EQ(rsa_accesses(dm.register_trace()),
              (std::vector{rd("RSA_MSR"), wr("RSA_MSR", 0x04), rd("RSA_MSR")}));
    EXPECT_EQ(up().port.uart_clock_hz, standard_clock);

    dm.start_trace();
    stop_port(up());
    EXPECT_TRUE(rsa_accesses(dm.register_trace()).empty()) << "nothing to switch off at the standard clock";
    EXPECT_EQ(up().port.uart_clock_hz, standard_clock);
}

// An RSA-compatible board whose FIFO mode, once on, stays on until power-off; no interrupt.
class LatchedRsaBoard final : public sim::hw::IoDevice {
public:
    LatchedRsaBoard(sim::hw::Bus& bus, sim::hw::UartChip& chip, std::uint16_t base)
        : bus_(bus), chip_(chip), claim_(bus.claim_io(base - 8u, 16, *this, "latched-rsa")) {}
    ~LatchedRsaBoard() override {
        if (claim_) bus_.release(*claim_);
    }
    std::uint8_t io_read(std::uint32_t offset) override {
        if (offset >= 8) return chip_.read(offset - 8);
        return offset == 0 ? mode_ : 0x00;
    }
    void io_write(std::uint32_t offset, std::uint8_t value) override {
        if (offset >= 8) {
            chip_.write(offset - 8, value);
        } else if (offset == 0) {
            mode_ = static_cast<std::uint8_t>(value | (mode_ & 0x04));
        }
    }
    std::string_view register_name(std::uint32_t offset, bool is_write) const override {
        if (offset >= 8) return chip_.register_name(offset - 8, is_write);
        if (offset == 0) return "RSA_MSR";
        return offset == 2 && is_write ? "RSA_FRR" : "RSA_RES";
    }

private:
    sim::hw::Bus& bus_;
    sim::hw::UartChip& chip_;
    std::optional<sim::hw::ClaimId> claim_;
    std::uint8_t mode_ = 0;
};

TEST(LatchedRsaPort, ShutdownKeepsTheFastClockWhileTheBoardKeepsItsFifoMode) {
    DriverMachine dm;
    auto& chip = dm.add_chip(UartModel::ns16550a);
    dm.place<LatchedRsaBoard>(dm.machine.bus(), chip, std::uint16_t{0x100});
    ASSERT_TRUE(dm.load("nr_uarts=8 probe_rsa=0x100"));
    uart_port templ = io_template(0x100, 0);
    ASSERT_EQ(dm.register_port(templ), 4);
    serial8250_uart& up = dm.slot(4);
    ASSERT_EQ(up.port.uart_type, type_rsa);

    ASSERT_EQ(start_port(up), 0);
    dm.start_trace();
    stop_port(up);
    EXPECT_EQ(rsa_accesses(dm.register_trace()),
              (std::vector{rd("RSA_MSR"), wr("RSA_MSR", 0x00), rd("RSA_MSR")}));
    EXPECT_EQ(up.port.uart_clock_hz, fast_clock);
}

}  // namespace
}  // namespace driver_test
