#include "sim/hw/board/rsa_board.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

constexpr std::uint32_t rsa_ports = 8;

std::uint16_t board_start(std::uint16_t base, const std::string& name) {
    if (base < rsa_ports) fatal("{} at {:#x} has no room for its registers below the UART", name, base);
    return static_cast<std::uint16_t>(base - rsa_ports);
}

}  // namespace

RsaBoard::RsaBoard(Bus& bus, InterruptController& controller, UartChip& chip, std::uint16_t base,
                   InterruptWiring wiring, std::string name)
    : chip_(chip),
      normal_clock_hz_(chip.input_clock()),
      irq_(controller, wiring),
      claim_(bus, board_start(base, name), 2 * rsa_ports, *this, name) {
    chip_.set_output_listener(this);
    uart_outputs_changed();
}

RsaBoard::~RsaBoard() { chip_.set_output_listener(nullptr); }

void RsaBoard::set_mode(std::uint8_t value) {
    if (!fifo_fitted_) value = static_cast<std::uint8_t>(value & ~mode_fifo);
    const bool was = fifo_mode();
    mode_ = value;
    if (fifo_mode() == was) return;
    chip_.set_input_clock(fifo_mode() ? fast_clock_hz : normal_clock_hz_);
    chip_.set_fifo_depth_override(fifo_mode() ? fifo_bytes : 0);
}

std::uint8_t RsaBoard::io_read(std::uint32_t offset) {
    if (offset >= rsa_ports) return chip_.read(offset - rsa_ports);
    return offset == 0 ? mode_ : 0x00;
}

void RsaBoard::io_write(std::uint32_t offset, std::uint8_t value) {
    if (offset >= rsa_ports) {
        chip_.write(offset - rsa_ports, value);
    } else if (offset == 0) {
        set_mode(value);
    } else if (offset == 2) {
        chip_.clear_fifos();
    }
}

std::string_view RsaBoard::register_name(std::uint32_t offset, bool is_write) const {
    if (offset >= rsa_ports) return chip_.register_name(offset - rsa_ports, is_write);
    switch (offset) {
        case 0: return "RSA_MSR";
        case 1: return "RSA_IER";
        case 2: return is_write ? "RSA_FRR" : "RSA_SRR";
        case 3: return "RSA_TIVSR";
        case 4: return "RSA_TCR";
        default: return "RSA_RES";
    }
}

void RsaBoard::uart_outputs_changed() { irq_.set(chip_.interrupt_output() && chip_.out2()); }

}  // namespace sim::hw
