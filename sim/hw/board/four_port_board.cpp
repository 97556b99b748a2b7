#include "sim/hw/board/four_port_board.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

constexpr std::uint32_t board_register_offset = 0x1f;

std::array<UartRegisters*, 4> checked(std::array<UartRegisters*, 4> chips) {
    for (UartRegisters* c : chips) {
        if (!c) fatal("a four-port board needs four chips (use AbsentUart for an empty socket)");
    }
    return chips;
}

std::uint16_t aligned(std::uint16_t base) {
    if (base & 0x1f) fatal("four-port board base {:#x} is not a multiple of 0x20", base);
    return base;
}

}  // namespace

FourPortBoard::FourPortBoard(Bus& bus, InterruptController& controller, std::array<UartRegisters*, 4> chips,
                             std::uint16_t base, InterruptWiring wiring, std::string name)
    : chips_(checked(chips)), irq_(controller, wiring), claim_(bus, aligned(base), 0x20u, *this, std::move(name)) {
    for (UartRegisters* c : chips_) c->set_output_listener(this);
    uart_outputs_changed();
}

FourPortBoard::~FourPortBoard() {
    for (UartRegisters* c : chips_) c->set_output_listener(nullptr);
}

bool FourPortBoard::port_requests(unsigned port) const {
    // OUT1 set turns the port's interrupt off on this board.
    return chips_[port]->interrupt_output() && !chips_[port]->out1();
}

std::uint8_t FourPortBoard::board_register() const {
    std::uint8_t value = control_ & enable_bit;
    for (unsigned port = 0; port < 4; ++port) {
        if (port_requests(port)) value = static_cast<std::uint8_t>(value | (1u << port));
    }
    return value;
}

std::uint8_t FourPortBoard::io_read(std::uint32_t offset) {
    if (offset == board_register_offset) return board_register();
    return chips_[offset / 8]->read(offset % 8);
}

void FourPortBoard::io_write(std::uint32_t offset, std::uint8_t value) {
    if (offset == board_register_offset) {
        control_ = value;
        uart_outputs_changed();
        return;
    }
    chips_[offset / 8]->write(offset % 8, value);
}

std::string_view FourPortBoard::register_name(std::uint32_t offset, bool is_write) const {
    if (offset == board_register_offset) return "FOURPORT_IRQ";
    return chips_[offset / 8]->register_name(offset % 8, is_write);
}

void FourPortBoard::uart_outputs_changed() {
    bool any = false;
    for (unsigned port = 0; port < 4; ++port) any |= port_requests(port);
    irq_.set((control_ & enable_bit) && any);
}

}  // namespace sim::hw
