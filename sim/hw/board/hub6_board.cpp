#include "sim/hw/board/hub6_board.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

std::vector<UartRegisters*> checked(std::span<UartRegisters* const> chips) {
    if (chips.empty() || chips.size() > Hub6Board::max_ports) {
        fatal("a hub6 board carries 1 to {} ports, not {}", Hub6Board::max_ports, chips.size());
    }
    for (UartRegisters* c : chips) {
        if (!c) fatal("a hub6 port without a chip (use AbsentUart for an empty socket)");
    }
    return {chips.begin(), chips.end()};
}

unsigned checked_card(unsigned card) {
    if (card > 3) fatal("hub6 card number {} (0 to 3)", card);
    return card;
}

}  // namespace

Hub6Board::Hub6Board(Bus& bus, InterruptController& controller, std::span<UartRegisters* const> chips,
                     std::uint16_t base, InterruptWiring wiring, unsigned card, std::string name)
    : chips_(checked(chips)), card_(checked_card(card)), irq_(controller, wiring),
      claim_(bus, base, 2u, *this, std::move(name)) {
    for (UartRegisters* c : chips_) c->set_output_listener(this);
    uart_outputs_changed();
}

Hub6Board::~Hub6Board() {
    for (UartRegisters* c : chips_) c->set_output_listener(nullptr);
}

UartRegisters* Hub6Board::selected() const {
    if ((index_ >> 6) != card_) return nullptr;  // another card on the same ports answers
    const unsigned port = (index_ >> 3) & 7u;
    return port < chips_.size() ? chips_[port] : nullptr;
}

std::uint8_t Hub6Board::io_read(std::uint32_t offset) {
    if (offset == 0) return index_;
    UartRegisters* chip = selected();
    return chip ? chip->read(index_ & 7u) : 0xff;
}

void Hub6Board::io_write(std::uint32_t offset, std::uint8_t value) {
    if (offset == 0) {
        index_ = value;
        return;
    }
    if (UartRegisters* chip = selected()) chip->write(index_ & 7u, value);
}

std::string_view Hub6Board::register_name(std::uint32_t offset, bool is_write) const {
    if (offset == 0) return "HUB6_INDEX";
    const UartRegisters* chip = selected();
    return chip ? chip->register_name(index_ & 7u, is_write) : std::string_view{};
}

void Hub6Board::uart_outputs_changed() {
    bool any = false;
    for (const UartRegisters* c : chips_) any |= c->interrupt_output() && c->out2();
    irq_.set(any);
}

}  // namespace sim::hw
