// A PC serial card: one UART on eight I/O ports. The chip's INTR reaches the ISA line through a
// buffer enabled by OUT2, which is why PC software must set OUT2 to get interrupts.
#pragma once

#include <cstdint>
#include <string>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/io_claim.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

enum class InterruptGate : std::uint8_t { none, out1, out2 };

class PcSerialCard final : public IoDevice, private UartOutputListener {
public:
    PcSerialCard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint16_t base,
                 InterruptWiring wiring, std::string name = "serial", InterruptGate gate = InterruptGate::out2);
    ~PcSerialCard() override;

    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t offset, std::uint8_t value) override;
    std::string_view register_name(std::uint32_t offset, bool is_write) const override;

    bool interrupt_asserted() const { return irq_.asserted(); }

private:
    void uart_outputs_changed() override;

    UartRegisters& chip_;
    InterruptGate gate_;
    BoardInterrupt irq_;
    IoClaim claim_;
};

// Whether a chip's interrupt passes a gate.
bool gate_passes(const UartRegisters& chip, InterruptGate gate);

}  // namespace sim::hw
