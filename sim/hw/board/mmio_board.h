// Memory-mapped UART boards.
//
// MmioUartBoard: register n at window offset n << shift, reached with byte or 32-bit accesses
// (a 32-bit read returns the register in the low byte, the rest 0; a 32-bit write takes the
// low byte). The address lines below the shift are not decoded, as on the real boards.
//
// IirWordBoard: byte registers, except that IIR is read as bits 8 to 15 of a 32-bit load at the
// window's start (the bus bridge of this board only returns IIR on a word lane). Writing IER
// with bit 0x40 hangs the bridge: from then on every read returns all ones and writes are lost,
// until power is cycled (reset()).
#pragma once

#include <cstdint>
#include <string>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/io_claim.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

class MmioUartBoard final : public MemoryDevice, private UartOutputListener {
public:
    MmioUartBoard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint64_t base,
                  unsigned reg_shift, InterruptWiring wiring, std::string name = "serial-mmio",
                  InterruptGate gate = InterruptGate::none);
    ~MmioUartBoard() override;

    std::uint32_t mem_read(std::uint64_t offset, unsigned width) override;
    void mem_write(std::uint64_t offset, unsigned width, std::uint32_t value) override;
    std::string_view register_name(std::uint64_t offset, bool is_write) const override;

    std::uint64_t window_length() const { return 8ull << shift_; }
    bool interrupt_asserted() const { return irq_.asserted(); }

private:
    void uart_outputs_changed() override;
    unsigned reg(std::uint64_t offset) const { return static_cast<unsigned>(offset >> shift_) & 7u; }

    UartRegisters& chip_;
    unsigned shift_;
    InterruptGate gate_;
    BoardInterrupt irq_;
    IoClaim claim_;
};

class IirWordBoard final : public MemoryDevice, private UartOutputListener {
public:
    IirWordBoard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint64_t base,
                 InterruptWiring wiring, std::string name = "serial-mmio");
    ~IirWordBoard() override;

    std::uint32_t mem_read(std::uint64_t offset, unsigned width) override;
    void mem_write(std::uint64_t offset, unsigned width, std::uint32_t value) override;
    std::string_view register_name(std::uint64_t offset, bool is_write) const override;
    std::string_view register_name_at_width(std::uint64_t offset, unsigned width, bool is_write) const override;

    bool hung() const { return hung_; }
    void reset() { hung_ = false; }
    bool interrupt_asserted() const { return irq_.asserted(); }

private:
    void uart_outputs_changed() override;

    UartRegisters& chip_;
    bool hung_ = false;
    BoardInterrupt irq_;
    IoClaim claim_;
};

}  // namespace sim::hw
