// An RSA board: a 16550A with the board's own registers in the eight ports below it. The mode
// register (base - 8) bit 0x04 switches the board's 2048-byte FIFOs in and runs the UART from
// the board's 14.7456 MHz clock; writing the FIFO reset register (base - 6) empties the FIFOs.
#pragma once

#include <cstdint>
#include <string>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/io_claim.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/uart/uart_chip.h"

namespace sim::hw {

class RsaBoard final : public IoDevice, private UartOutputListener {
public:
    static constexpr std::uint32_t fast_clock_hz = 14'745'600;
    static constexpr unsigned fifo_bytes = 2048;
    static constexpr std::uint8_t mode_fifo = 0x04;

    // `base` is the UART's base; the board claims base - 8 to base + 7.
    RsaBoard(Bus& bus, InterruptController& controller, UartChip& chip, std::uint16_t base,
             InterruptWiring wiring, std::string name = "serial-rsa");
    ~RsaBoard() override;

    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t offset, std::uint8_t value) override;
    std::string_view register_name(std::uint32_t offset, bool is_write) const override;

    bool fifo_mode() const { return mode_ & mode_fifo; }
    bool interrupt_asserted() const { return irq_.asserted(); }
    // A board whose mode bit will not set (an RSA-compatible board without the FIFO option).
    void set_fifo_option(bool fitted) { fifo_fitted_ = fitted; }

private:
    void uart_outputs_changed() override;
    void set_mode(std::uint8_t value);

    UartChip& chip_;
    std::uint32_t normal_clock_hz_;
    std::uint8_t mode_ = 0;
    bool fifo_fitted_ = true;
    BoardInterrupt irq_;
    IoClaim claim_;
};

}  // namespace sim::hw
