// Register access for every way a UART can be wired, the 16C950 indexed registers, and the
// table of UART types.
#include "drivers/serial/8250/8250.h"

extern "C" const uart_type_info uart_config[type_count] = {
    {"unknown", 1, 1, 0x00, 0},
    {"8250", 1, 1, 0x00, 0},
    {"16450", 1, 1, 0x00, 0},
    {"16550", 1, 1, 0x00, 0},
    {"16550A", 16, 16, 0x81, cap_fifo},
    {"Cirrus", 1, 1, 0x00, 0},
    {"ST16650", 1, 1, 0x00, cap_fifo | cap_efr | cap_sleep},
    {"ST16650V2", 32, 16, 0x41, cap_fifo | cap_efr | cap_sleep},
    {"TI16750", 64, 64, 0xa1, cap_fifo | cap_sleep | cap_auto_flow},
    {"Startech", 1, 1, 0x00, 0},
    {"16C950/954", 128, 128, 0x81, cap_fifo},
    {"ST16654", 64, 32, 0x61, cap_fifo | cap_efr | cap_sleep},
    {"XR16850", 128, 128, 0x81, cap_fifo | cap_efr | cap_sleep},
    {"RSA", 2048, 2048, 0xc1, cap_fifo},
    {"NS16550A", 16, 16, 0x81, cap_fifo | cap_natsemi},
    {"XScale", 32, 32, 0x81, cap_fifo | cap_uue},
};

namespace {

// The register number scaled to the board's register spacing. Negative numbers (the RSA
// registers below the UART) stay negative. The count is taken modulo 32, as the processor's
// shift instruction does, so that a nonsense spacing cannot make the shift undefined.
inline std::int32_t shifted_offset(const serial8250_uart* up, int offset) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(offset) << (up->port.reg_shift & 31));
}

inline std::uint16_t io_port(std::uint32_t base, std::int32_t offset) {
    return static_cast<std::uint16_t>(base + static_cast<std::uint32_t>(offset));
}

// An address in the mapped register window; the offset is sign-extended to the address width.
// Computed on integers: the window may not be mapped yet, and no object lies behind it anyway.
inline volatile void* window_address(const serial8250_uart* up, std::int32_t offset) {
    const auto base = reinterpret_cast<std::uintptr_t>(up->port.reg_window);
    const auto displacement = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(offset));
    return reinterpret_cast<volatile void*>(base + displacement);
}

// The hub6 board multiplexes its UARTs behind one index port: the byte written there selects
// the UART (its 1-based number, minus one) and the register.
inline void hub6_select(const serial8250_uart* up, std::int32_t offset) {
    const auto index = static_cast<std::uint8_t>(up->port.hub6_index - 1 + offset);
    outb(index, static_cast<std::uint16_t>(up->port.io_base));
}

// Some memory-mapped parts answer IIR only in the second byte of the word at the start of the
// window, and lock up when software sets IER bit 0x40.
inline constexpr std::int32_t mem8_quirk_iir_offset = 2;
inline constexpr std::int32_t mem8_quirk_ier_offset = 1;
inline constexpr std::uint32_t mem8_quirk_forbidden_ier_bit = 0x40;

}  // namespace

extern "C" {

std::uint32_t serial_in(serial8250_uart* up, int offset) {
    const std::int32_t shifted = shifted_offset(up, offset);
    switch (up->port.access_kind) {
    case access_hub6:
        hub6_select(up, shifted);
        return inb(static_cast<std::uint16_t>(up->port.io_base + 1));
    case access_mem8:
        return readb(window_address(up, shifted));
    case access_mem32:
        return readl(window_address(up, shifted));
    case access_mem8_quirk:
        if (shifted == mem8_quirk_iir_offset) return (readl(window_address(up, 0)) >> 8) & 0xff;
        return readb(window_address(up, shifted));
    default:
        return inb(io_port(up->port.io_base, shifted));
    }
}

void serial_out(serial8250_uart* up, int offset, std::uint32_t value) {
    const std::int32_t shifted = shifted_offset(up, offset);
    const auto byte = static_cast<std::uint8_t>(value);
    switch (up->port.access_kind) {
    case access_hub6:
        hub6_select(up, shifted);
        outb(byte, static_cast<std::uint16_t>(up->port.io_base + 1));
        return;
    case access_mem8:
        writeb(byte, window_address(up, shifted));
        return;
    case access_mem32:
        writel(value, window_address(up, shifted));
        return;
    case access_mem8_quirk:
        if (shifted == mem8_quirk_ier_offset && (value & mem8_quirk_forbidden_ier_bit) != 0) return;
        writeb(byte, window_address(up, shifted));
        return;
    default:
        outb(byte, io_port(up->port.io_base, shifted));
        return;
    }
}

// Posted memory writes may still be on their way when a short delay starts; reading a register
// back forces them out to the UART.
void serial_out_sync(serial8250_uart* up, int offset, std::uint32_t value) {
    serial_out(up, offset, value);
    if (up->port.access_kind == access_mem8) (void)serial_in(up, reg_lcr);
}

// On the 16C950, SCR selects an indexed register and offset 5 writes it.
void serial_icr_write(serial8250_uart* up, int index, std::uint32_t value) {
    serial_out(up, reg_scr, static_cast<std::uint32_t>(index));
    serial_out(up, reg_icr_data, value);
}

// Indexed registers read back through offset 5 only while ACR bit 0x40 is set; ACR is
// restored at once, since offset 5 is LSR the rest of the time.
std::uint32_t serial_icr_read(serial8250_uart* up, int index) {
    serial_icr_write(up, icr_acr, up->acr_shadow | acr_icr_read);
    serial_out(up, reg_scr, static_cast<std::uint32_t>(index));
    const std::uint32_t value = serial_in(up, reg_icr_data);
    serial_icr_write(up, icr_acr, up->acr_shadow);
    return value;
}

const char* serial8250_type(uart_port* port) {
    std::uint32_t type = port->uart_type;
    if (type >= type_count) type = type_unknown;
    return uart_config[type].name_text;
}

// User settings: the line must fit the interrupt-chain table, the clock must allow 9600 bit/s,
// and the type must be one the driver can drive (Cirrus and Startech parts it only names).
int serial8250_verify_port(uart_port* /*port*/, requested_settings* settings) {
    constexpr std::int32_t slowest_baud_base = 9600;
    if (static_cast<std::uint32_t>(settings->req_irq) >= nr_irq_lines ||
        settings->req_baud_base < slowest_baud_base || settings->req_type < 0 ||
        settings->req_type >= static_cast<std::int32_t>(type_count) ||
        settings->req_type == type_cirrus || settings->req_type == type_startech) {
        return -kerr::inval;
    }
    return 0;
}

}  // extern "C"
