// A four-port board: four UARTs at base, base + 8, base + 0x10 and base + 0x18 sharing one
// interrupt line, and the board's interrupt register at (base AND 0xfe0) OR 0x1f in place of
// the fourth UART's scratch register. A port's interrupt reaches the line while its OUT1 is
// off; writing 0x80 to the board register enables the board's output. Reading it shows which
// ports request service (bit n for port n) and the enable bit.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/io_claim.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

class FourPortBoard final : public IoDevice, private UartOutputListener {
public:
    static constexpr std::uint8_t enable_bit = 0x80;

    // `base` must be a multiple of 0x20.
    FourPortBoard(Bus& bus, InterruptController& controller, std::array<UartRegisters*, 4> chips,
                  std::uint16_t base, InterruptWiring wiring, std::string name = "fourport");
    ~FourPortBoard() override;

    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t offset, std::uint8_t value) override;
    std::string_view register_name(std::uint32_t offset, bool is_write) const override;

    std::uint8_t board_register() const;
    bool interrupt_asserted() const { return irq_.asserted(); }

private:
    void uart_outputs_changed() override;
    bool port_requests(unsigned port) const;

    std::array<UartRegisters*, 4> chips_;
    std::uint8_t control_ = 0;
    BoardInterrupt irq_;
    IoClaim claim_;
};

}  // namespace sim::hw
