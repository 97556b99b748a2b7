// One UART of a chosen model on a machine with the 8250 module, registered the way a board
// driver registers it and found by autoconfiguration, so that its type, capabilities and FIFO
// depth are the driver's own. Line settings reach it either directly through the module's
// operations table (no interrupts, so the bus trace holds exactly what one operation did) or
// through the serial core, as a process reaches it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver_harness.h"
#include "trace_queries.h"

namespace driver_test {

inline constexpr std::uint16_t line_port_base = 0x100;
inline constexpr std::uint32_t line_port_irq = 5;

// Settings with the given speed code and framing bits, receiver on, modem lines ignored.
inline ktermios line_settings(tcflag_t speed, tcflag_t framing = CS8, tcflag_t iflag = 0) {
    ktermios settings{};
    settings.c_cflag = speed | framing | CREAD | CLOCAL;
    settings.c_iflag = iflag;
    return settings;
}

struct PortSetup {
    sim::hw::UartModel model = sim::hw::UartModel::ns16550a;
    std::uint32_t clock_hz = 0;  // 0: the part's own crystal
    std::uint32_t port_flags = 0;
};

class LinePort {
public:
    explicit LinePort(PortSetup setup) {
        const sim::hw::UartPreset& preset = sim::hw::uart_preset(setup.model);
        const std::uint32_t clock = setup.clock_hz != 0 ? setup.clock_hz : preset.features.clock_hz;
        std::string parameters = "nr_uarts=8";
        if (setup.model == sim::hw::UartModel::rsa_16550a) {
            dm.place_rsa_board(line_port_base, line_port_irq);
            parameters += " probe_rsa=" + std::to_string(line_port_base);
        } else {
            chip_ = &dm.place_pc_uart(line_port_base, setup.model, line_port_irq);
            if (clock != chip_->input_clock()) chip_->set_input_clock(clock);
        }
        loaded_ = static_cast<bool>(dm.load(parameters));
        EXPECT_TRUE(loaded_) << "module load";
        if (!loaded_) return;
        uart_port templ = io_template(line_port_base, line_port_irq, setup.port_flags);
        templ.uart_clock_hz = clock;
        line_ = dm.register_port(templ);
        EXPECT_GE(line_, 0) << "registration";
        if (line_ < 0) return;
        const unsigned expected_type = setup.model == sim::hw::UartModel::rsa_16550a ? type_rsa : preset.type;
        EXPECT_EQ(up().port.uart_type, expected_type) << "autoconfiguration of " << preset.features.part;
        pops_ = dm.symbol<const uart_ops>("serial8250_pops");
    }
    LinePort(const LinePort&) = delete;
    LinePort& operator=(const LinePort&) = delete;

    bool ready() const { return loaded_ && line_ >= 0 && pops_ != nullptr; }
    int line() const { return line_; }
    std::string device() const { return "ttyS" + std::to_string(line_); }
    serial8250_uart& up() { return dm.slot(static_cast<unsigned>(line_)); }
    uart_port* port() { return &up().port; }
    const uart_ops& ops() const { return *pops_; }
    // The UART itself (not for the RSA board's chip, which the board holds).
    sim::hw::UartChip& chip() { return *chip_; }
    bool has_chip() const { return chip_ != nullptr; }

    // The operation's register accesses, in order, from a trace started just before it.
    template <typename Operation>
    std::vector<RegisterAccess> traced(Operation&& operation) {
        return dm.traced(std::forward<Operation>(operation));
    }
    std::vector<RegisterAccess> apply(ktermios settings, ktermios* old_settings = nullptr) {
        return traced([&] { ops().set_termios(port(), &settings, old_settings); });
    }

    DriverMachine dm;

private:
    sim::hw::UartChip* chip_ = nullptr;
    bool loaded_ = false;
    int line_ = -1;
    const uart_ops* pops_ = nullptr;
};

}  // namespace driver_test
