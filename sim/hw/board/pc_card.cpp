#include "sim/hw/board/pc_card.h"

namespace sim::hw {

bool gate_passes(const UartRegisters& chip, InterruptGate gate) {
    switch (gate) {
        case InterruptGate::none: return true;
        case InterruptGate::out1: return chip.out1();
        case InterruptGate::out2: return chip.out2();
    }
    return true;
}

PcSerialCard::PcSerialCard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint16_t base,
                           InterruptWiring wiring, std::string name, InterruptGate gate)
    : chip_(chip), gate_(gate), irq_(controller, wiring), claim_(bus, base, 8u, *this, std::move(name)) {
    chip_.set_output_listener(this);
    uart_outputs_changed();
}

PcSerialCard::~PcSerialCard() { chip_.set_output_listener(nullptr); }

std::uint8_t PcSerialCard::io_read(std::uint32_t offset) { return chip_.read(offset); }

void PcSerialCard::io_write(std::uint32_t offset, std::uint8_t value) { chip_.write(offset, value); }

std::string_view PcSerialCard::register_name(std::uint32_t offset, bool is_write) const {
    return chip_.register_name(offset, is_write);
}

void PcSerialCard::uart_outputs_changed() { irq_.set(chip_.interrupt_output() && gate_passes(chip_, gate_)); }

}  // namespace sim::hw
