#include "sim/hw/board/mmio_board.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

unsigned checked_shift(unsigned shift) {
    if (shift > 4) fatal("register shift {} (0 to 4)", shift);
    return shift;
}

}  // namespace

MmioUartBoard::MmioUartBoard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint64_t base,
                             unsigned reg_shift, InterruptWiring wiring, std::string name, InterruptGate gate)
    : chip_(chip), shift_(checked_shift(reg_shift)), gate_(gate), irq_(controller, wiring),
      claim_(bus, base, std::uint64_t{8} << reg_shift, *this, std::move(name)) {
    chip_.set_output_listener(this);
    uart_outputs_changed();
}

MmioUartBoard::~MmioUartBoard() { chip_.set_output_listener(nullptr); }

std::uint32_t MmioUartBoard::mem_read(std::uint64_t offset, unsigned) { return chip_.read(reg(offset)); }

void MmioUartBoard::mem_write(std::uint64_t offset, unsigned, std::uint32_t value) {
    chip_.write(reg(offset), static_cast<std::uint8_t>(value));
}

std::string_view MmioUartBoard::register_name(std::uint64_t offset, bool is_write) const {
    return chip_.register_name(reg(offset), is_write);
}

void MmioUartBoard::uart_outputs_changed() { irq_.set(chip_.interrupt_output() && gate_passes(chip_, gate_)); }

IirWordBoard::IirWordBoard(Bus& bus, InterruptController& controller, UartRegisters& chip, std::uint64_t base,
                           InterruptWiring wiring, std::string name)
    : chip_(chip), irq_(controller, wiring), claim_(bus, base, std::uint64_t{8}, *this, std::move(name)) {
    chip_.set_output_listener(this);
    uart_outputs_changed();
}

IirWordBoard::~IirWordBoard() { chip_.set_output_listener(nullptr); }

std::uint32_t IirWordBoard::mem_read(std::uint64_t offset, unsigned width) {
    if (hung_) return width == 4 ? 0xffffffffu : 0xffu;
    const auto reg = static_cast<unsigned>(offset) & 7u;
    if (width == 4 && reg == 0) return static_cast<std::uint32_t>(chip_.read(uart_reg::iir_fcr)) << 8;
    return chip_.read(reg);
}

void IirWordBoard::mem_write(std::uint64_t offset, unsigned, std::uint32_t value) {
    if (hung_) return;
    const auto reg = static_cast<unsigned>(offset) & 7u;
    const auto byte = static_cast<std::uint8_t>(value);
    if (chip_.register_name(reg, true) == "IER" && (byte & 0x40)) {
        hung_ = true;
        return;
    }
    chip_.write(reg, byte);
}

std::string_view IirWordBoard::register_name(std::uint64_t offset, bool is_write) const {
    return chip_.register_name(static_cast<unsigned>(offset) & 7u, is_write);
}

std::string_view IirWordBoard::register_name_at_width(std::uint64_t offset, unsigned width, bool is_write) const {
    if (!is_write && width == 4 && (offset & 7u) == 0) return chip_.register_name(uart_reg::iir_fcr, false);
    return register_name(offset, is_write);
}

void IirWordBoard::uart_outputs_changed() { irq_.set(chip_.interrupt_output()); }

}  // namespace sim::hw
