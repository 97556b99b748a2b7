// A hub6 board: up to six UARTs behind two I/O ports. A byte written to the base selects the
// card (bits 7-6), the port (bits 5-3) and the register (bits 2-0); the data moves through
// base + 1. The ports share the board's line, each gated by its own OUT2.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/io_claim.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

class Hub6Board final : public IoDevice, private UartOutputListener {
public:
    static constexpr unsigned max_ports = 6;

    Hub6Board(Bus& bus, InterruptController& controller, std::span<UartRegisters* const> chips,
              std::uint16_t base, InterruptWiring wiring, unsigned card = 0, std::string name = "hub6");
    ~Hub6Board() override;

    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t offset, std::uint8_t value) override;
    std::string_view register_name(std::uint32_t offset, bool is_write) const override;

    std::uint8_t index() const { return index_; }
    bool interrupt_asserted() const { return irq_.asserted(); }

private:
    void uart_outputs_changed() override;
    UartRegisters* selected() const;

    std::vector<UartRegisters*> chips_;
    unsigned card_;
    std::uint8_t index_ = 0;
    BoardInterrupt irq_;
    IoClaim claim_;
};

}  // namespace sim::hw
