// Finding out what UART sits at a port: register regions, type detection by register tests,
// FIFO measurement, RSA board switch-on and the interrupt-line probe.
#include "drivers/serial/8250/8250.h"
#include "drivers/serial/kernel/lock_guards.h"

namespace {

constexpr const char* std_region_name = "serial";
constexpr const char* rsa_region_name = "serial-rsa";

// A memory-mapped board whose I/O resource is a whole 1 MiB window.
constexpr std::uint64_t wide_window_size = 0x100000;

// Count of FIFO measurements made in hard-interrupt context, for the one-time warning.
unsigned int warned;

// Eight registers, spread by the board's register spacing.
std::uint64_t port_size(const serial8250_uart* up) {
    return std::uint64_t{8} << (up->port.reg_shift & 31);
}

// The RSA board's registers sit one register block below the UART.
std::uint64_t rsa_region_start(const serial8250_uart* up) {
    const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(reg_rsa_mode)
                                                  << (up->port.reg_shift & 31));
    return std::uint64_t{up->port.io_base} + static_cast<std::uint64_t>(std::int64_t{offset});
}

// RSA boards sit on the ISA bus: only a port whose registers are plain I/O ports relative to
// its own base has RSA ports the driver can claim.
bool has_rsa_ports(const serial8250_uart* up) {
    switch (up->port.access_kind) {
    case access_mem8:
    case access_mem32:
    case access_mem8_quirk:
    case access_wide_window:
        return false;
    default:
        return true;
    }
}

// The kernel's one-line warning with the position of the check, followed by the call stack.
void warn_at(const char* file, int line, const char* function) {
    printk("WARNING: at %s:%d %s()\n", file, line, function);
    dump_stack();
}

std::uint8_t byte_of(std::uint32_t value) { return static_cast<std::uint8_t>(value); }

// Bits 7-6 of IIR once FCR has asked for FIFOs.
enum class fifo_answer : std::uint32_t { none = 0, broken = 1, unusable = 2, working = 3 };

// The NS16550A keeps a second register bank behind LCR 0xe0 whose register 2 mirrors MCR bit 4
// (loopback) in its own bit 4; register 4 of that bank selects the clock prescaler.
constexpr std::uint32_t ns_bank2_mcr_mirror = 0x10;
constexpr std::uint32_t ns_prescaler_bits = 0xb0;
constexpr std::uint32_t ns_prescaler_fast = 0x10;

bool detect_ns16550a(serial8250_uart* up) {
    serial_out(up, reg_lcr, 0x00);
    const std::uint32_t mcr = serial_in(up, reg_mcr);
    serial_out(up, reg_lcr, lcr_ns_bank2);
    std::uint32_t bank2 = serial_in(up, reg_efr);
    if (((mcr ^ bank2) & ns_bank2_mcr_mirror) != 0) return false;

    serial_out(up, reg_lcr, 0x00);
    serial_out(up, reg_mcr, mcr ^ mcr_loop);
    serial_out(up, reg_lcr, lcr_ns_bank2);
    bank2 = serial_in(up, reg_efr);
    serial_out(up, reg_lcr, 0x00);
    serial_out(up, reg_mcr, mcr);
    if (((mcr ^ bank2) & ns_bank2_mcr_mirror) == 0) return false;

    // Switch the part to its fast prescaler (14.7456 MHz instead of 1.8432 MHz) and scale the
    // divisor latch by the same factor of 8, so the line keeps its speed.
    serial_out(up, reg_lcr, lcr_ns_bank2);
    std::uint32_t divisor = byte_of(serial_in(up, reg_dll)) | (byte_of(serial_in(up, reg_dlm)) << 8);
    divisor = (divisor * 8) & 0xffff;
    std::uint32_t prescaler = serial_in(up, reg_mcr);
    prescaler &= ~ns_prescaler_bits;
    prescaler |= ns_prescaler_fast;
    serial_out(up, reg_mcr, prescaler);
    serial_out(up, reg_dll, divisor & 0xff);
    serial_out(up, reg_dlm, divisor >> 8);
    serial_out(up, reg_lcr, 0x00);

    up->cap_flags |= cap_natsemi;
    up->port.uart_clock_hz = fast_clock_hz;
    up->port.uart_type = type_ns16550a;
    return true;
}

// The TI16750 reports its 64-byte FIFO mode in IIR bit 5, and accepts FCR bit 5 only while the
// divisor latch is open.
bool detect_ti16750(serial8250_uart* up) {
    serial_out(up, reg_lcr, 0x00);
    serial_out(up, reg_fcr, fcr_enable_fifo | fcr7_64byte);
    const std::uint32_t closed = serial_in(up, reg_iir) >> 5;
    serial_out(up, reg_fcr, fcr_enable_fifo);
    serial_out(up, reg_lcr, lcr_dlab);
    serial_out(up, reg_fcr, fcr_enable_fifo | fcr7_64byte);
    const std::uint32_t open = serial_in(up, reg_iir) >> 5;
    serial_out(up, reg_fcr, fcr_enable_fifo);
    serial_out(up, reg_lcr, 0x00);
    if (closed != 6 || open != 7) return false;
    up->port.uart_type = type_16750;
    up->cap_flags |= cap_sleep | cap_auto_flow;
    return true;
}

// XScale UARTs have a unit-enable bit in IER that sticks both ways; on other parts bit 6 of IER
// reads back 0.
void detect_xscale(serial8250_uart* up) {
    const std::uint32_t ier = serial_in(up, reg_ier);
    serial_out(up, reg_ier, ier & ~std::uint32_t{ier_uue});
    if ((serial_in(up, reg_ier) & ier_uue) != 0) {
        serial_out(up, reg_ier, ier);
        return;
    }
    serial_out(up, reg_ier, ier | ier_uue);
    if ((serial_in(up, reg_ier) & ier_uue) != 0) {
        up->port.uart_type = type_xscale;
        up->cap_flags |= cap_uue;
        return;
    }
    serial_out(up, reg_ier, ier);
}

// Parts with an enhanced feature register: the 16C950 identifies itself in its indexed
// registers, the XR16850 in its divisor latch, and the ST16654 by its 64-byte FIFO.
void detect_efr_part(serial8250_uart* up) {
    up->cap_flags |= cap_efr | cap_sleep;
    up->acr_shadow = 0;
    serial_out(up, reg_lcr, lcr_efr_bank);
    serial_out(up, reg_efr, efr_ecb);
    serial_out(up, reg_lcr, 0x00);

    const std::uint32_t id1 = serial_icr_read(up, icr_id1);
    const std::uint32_t id2 = serial_icr_read(up, icr_id2);
    const std::uint32_t id3 = serial_icr_read(up, icr_id3);
    const std::uint32_t revision = serial_icr_read(up, icr_rev);
    if (id1 == 0x16 && id2 == 0xc9 && (id3 == 0x50 || id3 == 0x52 || id3 == 0x54)) {
        up->port.uart_type = type_16c950;
        // Revision 1 of the 16C952 mishandles a divisor whose low byte is 0.
        if (id3 == 0x52 && revision == 0x01) up->quirk_flags |= quirk_quot;
        return;
    }

    const unsigned int chip_id = autoconfig_read_divisor_id(up) >> 8;
    if (chip_id == 0x10 || chip_id == 0x12 || chip_id == 0x14) {
        up->port.uart_type = type_16850;
        return;
    }
    up->port.uart_type = size_fifo(up) == 64 ? type_16654 : type_16650v2;
}

// IIR said the FIFOs work: a 16550A or one of its descendants.
void detect_fifo_part(serial8250_uart* up) {
    up->port.uart_type = type_16550a;
    up->cap_flags |= cap_fifo;

    // The ST16650 hides its EFR behind LCR 0x80 already, where register 2 otherwise reads the
    // FCR shadow of the others.
    serial_out(up, reg_lcr, lcr_dlab);
    if (serial_in(up, reg_efr) == 0) {
        serial_out(up, reg_efr, 0xa8);
        if (serial_in(up, reg_efr) != 0) {
            up->port.uart_type = type_16650;
            up->cap_flags |= cap_efr | cap_sleep;
        }
        serial_out(up, reg_efr, 0x00);
        return;
    }

    // Register 2 reading 0 under LCR 0xbf means an EFR, except on the 16550-compatible parts
    // with divisor identification 0x0201 and a 16-byte FIFO, which read 0 there without one.
    serial_out(up, reg_lcr, lcr_efr_bank);
    if (serial_in(up, reg_efr) == 0 &&
        !(autoconfig_read_divisor_id(up) == 0x0201 && size_fifo(up) == 16)) {
        detect_efr_part(up);
        return;
    }

    if (detect_ns16550a(up)) return;
    if (detect_ti16750(up)) return;
    detect_xscale(up);
}

// The 8250 has no scratch register; the 16450 added one.
void detect_8250_or_16450(serial8250_uart* up) {
    up->port.uart_type = type_8250;
    const std::uint32_t saved = serial_in(up, reg_scr);
    serial_out(up, reg_scr, 0xa5);
    const std::uint32_t first_read = serial_in(up, reg_scr);
    serial_out(up, reg_scr, 0x5a);
    const std::uint32_t second_read = serial_in(up, reg_scr);
    serial_out(up, reg_scr, saved);
    if (first_read == 0xa5 && second_read == 0x5a) up->port.uart_type = type_16450;
}

// A UART answers IER writes; a floating bus or another device does not.
bool uart_answers_ier(serial8250_uart* up) {
    const std::uint32_t saved = serial_in(up, reg_ier);
    serial_out(up, reg_ier, 0x00);
    const std::uint32_t cleared = serial_in(up, reg_ier);
    serial_out(up, reg_ier, 0x0f);
    const std::uint32_t set = serial_in(up, reg_ier);
    serial_out(up, reg_ier, saved);
    return cleared == 0x00 && set == 0x0f;
}

// In loopback, RTS drives CTS and OUT2 drives DCD: a UART shows DCD and CTS and neither RI nor
// DSR.
bool uart_loops_back(serial8250_uart* up, std::uint32_t saved_mcr) {
    serial_out(up, reg_mcr, mcr_loop | mcr_out2 | mcr_rts);
    const std::uint32_t status = serial_in(up, reg_msr) & 0xf0;
    serial_out(up, reg_mcr, saved_mcr);
    return status == (msr_dcd | msr_cts);
}

bool registers_in_memory(const serial8250_uart* up) {
    const std::uint8_t kind = up->port.access_kind;
    return kind == access_mem8 || kind == access_mem32 || kind == access_mem8_quirk;
}

void autoconfig(serial8250_uart* up, bool rsa_held) {
    if (up->port.io_base == 0 && up->port.reg_window_phys == 0 && up->port.reg_window == nullptr) {
        return;
    }
    // A memory-mapped port whose window was never mapped has no registers to test.
    if (registers_in_memory(up) && up->port.reg_window == nullptr) return;

    irqsave_lock guard(&up->port.port_lock);

    up->cap_flags = 0;
    up->quirk_flags = 0;

    if ((up->port.port_flags & no_presence_test) == 0 && !uart_answers_ier(up)) return;

    const std::uint32_t saved_mcr = serial_in(up, reg_mcr);
    const std::uint32_t saved_lcr = serial_in(up, reg_lcr);

    if ((up->port.port_flags & skip_test) == 0 && !uart_loops_back(up, saved_mcr)) return;

    // Clear an EFR if there is one, so that the FIFO probe sees the part in its 16550 mode.
    serial_out(up, reg_lcr, lcr_efr_bank);
    serial_out(up, reg_efr, 0x00);
    serial_out(up, reg_lcr, 0x00);
    serial_out(up, reg_fcr, fcr_enable_fifo);

    switch (static_cast<fifo_answer>((serial_in(up, reg_iir) >> 6) & 0x3)) {
    case fifo_answer::none:
        detect_8250_or_16450(up);
        break;
    case fifo_answer::broken:
        up->port.uart_type = type_unknown;
        break;
    case fifo_answer::unusable:
        up->port.uart_type = type_16550;
        break;
    case fifo_answer::working:
        detect_fifo_part(up);
        break;
    }

    if (up->port.uart_type == type_16550a && rsa_held) {
        for (unsigned int i = 0; i < probe_rsa_count && i < max_probe_rsa; ++i) {
            if (probe_rsa[i] == std::uint64_t{up->port.io_base} && __enable_rsa(up) != 0) {
                up->port.uart_type = type_rsa;
                break;
            }
        }
    }

    serial_out(up, reg_lcr, saved_lcr);

    const uart_type_info& info = uart_config[up->port.uart_type];
    if (up->cap_flags != info.type_caps) {
        printk("<4>ttyS%d: detected caps %08x should be %08x\n",
               static_cast<int>(up->port.line_index), static_cast<unsigned int>(up->cap_flags),
               static_cast<unsigned int>(info.type_caps));
    }
    up->port.fifo_depth = info.fifo_size;
    up->cap_flags = static_cast<std::uint16_t>(info.type_caps);
    up->tx_load_size = info.tx_load;

    if (up->port.uart_type == type_unknown) return;

    // Leave the UART quiet: FIFOs empty and off, nothing pending, no interrupt enabled.
    if (up->port.uart_type == type_rsa) serial_out(up, reg_rsa_fifo_reset, 0x00);
    serial_out(up, reg_mcr, saved_mcr);
    if ((up->cap_flags & cap_fifo) != 0) {
        serial_out(up, reg_fcr, fcr_enable_fifo);
        serial_out(up, reg_fcr, fcr_enable_fifo | fcr_clear_rcvr | fcr_clear_xmit);
        serial_out(up, reg_fcr, 0x00);
    }
    (void)serial_in(up, reg_rbr);
    // An XScale UART stops working altogether without its unit-enable bit.
    serial_out(up, reg_ier, (up->cap_flags & cap_uue) != 0 ? ier_uue : 0x00);
}

// Makes the UART raise its interrupt output and asks the interrupt controller which line rose.
void autoconfig_irq(serial8250_uart* up) {
    const bool on_four_port_board = (up->port.port_flags & four_port) != 0;
    const std::uint16_t board_irq_register = four_port_irq_register(up->port.io_base);
    std::uint8_t saved_board_irq = 0;

    // The four-port board gates the UARTs' interrupts through its own register; these old
    // boards need the I/O pause between accesses.
    if (on_four_port_board) {
        saved_board_irq = inb_p(board_irq_register);
        outb_p(0x80, board_irq_register);
        (void)inb_p(board_irq_register);
    }

    // Forget interrupts that were already pending.
    (void)probe_irq_off(probe_irq_on());
    const std::uint32_t saved_mcr = serial_in(up, reg_mcr);
    const std::uint32_t saved_ier = serial_in(up, reg_ier);
    serial_out(up, reg_mcr, mcr_out1 | mcr_out2);

    const unsigned long irqs = probe_irq_on();
    serial_out(up, reg_mcr, 0x00);
    udelay(10);
    // On a PC card OUT2 gates the interrupt onto the bus; the four-port board gates it itself.
    serial_out(up, reg_mcr, on_four_port_board ? (mcr_dtr | mcr_rts) : (mcr_dtr | mcr_rts | mcr_out2));
    serial_out(up, reg_ier, ier_rdi | ier_thri | ier_rlsi | ier_msi);
    (void)serial_in(up, reg_lsr);
    (void)serial_in(up, reg_rbr);
    (void)serial_in(up, reg_iir);
    (void)serial_in(up, reg_msr);
    serial_out(up, reg_thr, 0xff);
    udelay(20);
    const int irq = probe_irq_off(irqs);

    serial_out(up, reg_mcr, saved_mcr);
    serial_out(up, reg_ier, saved_ier);
    if (on_four_port_board) outb_p(saved_board_irq, board_irq_register);

    up->port.irq_line = irq > 0 ? static_cast<std::uint32_t>(irq) : 0;
}

}  // namespace

extern "C" {

int serial8250_request_std_resource(serial8250_uart* up) {
    std::uint64_t size = port_size(up);
    switch (up->port.access_kind) {
    case access_mem32:
    case access_mem8_quirk:
        return 0;
    case access_mem8:
    case access_wide_window:
        if (up->port.reg_window_phys == 0) return 0;
        if (up->port.access_kind == access_wide_window) size = wide_window_size;
        if (__request_region(&iomem_resource, up->port.reg_window_phys, size, std_region_name) == nullptr) {
            return -kerr::busy;
        }
        if ((up->port.port_flags & map_on_request) != 0) {
            up->port.reg_window = static_cast<unsigned char*>(
                __ioremap(up->port.reg_window_phys, static_cast<unsigned long>(size), 0));
            if (up->port.reg_window == nullptr) {
                __release_region(&iomem_resource, up->port.reg_window_phys, size);
                return -kerr::nomem;
            }
        }
        return 0;
    default:
        if (__request_region(&ioport_resource, up->port.io_base, size, std_region_name) == nullptr) {
            return -kerr::busy;
        }
        return 0;
    }
}

void serial8250_release_std_resource(serial8250_uart* up) {
    std::uint64_t size = port_size(up);
    switch (up->port.access_kind) {
    case access_mem32:
    case access_mem8_quirk:
        return;
    case access_mem8:
    case access_wide_window:
        if (up->port.reg_window_phys == 0) return;
        if (up->port.access_kind == access_wide_window) size = wide_window_size;
        if ((up->port.port_flags & map_on_request) != 0) {
            iounmap(up->port.reg_window);
            up->port.reg_window = nullptr;
        }
        __release_region(&iomem_resource, up->port.reg_window_phys, size);
        return;
    default:
        __release_region(&ioport_resource, up->port.io_base, port_size(up));
        return;
    }
}

int serial8250_request_rsa_resource(serial8250_uart* up) {
    switch (up->port.access_kind) {
    case access_mem8:
        return -kerr::inval;
    case access_mem32:
    case access_mem8_quirk:
    case access_wide_window:
        return 0;
    default:
        if (__request_region(&ioport_resource, rsa_region_start(up), port_size(up), rsa_region_name) == nullptr) {
            return -kerr::busy;
        }
        return 0;
    }
}

void serial8250_release_rsa_resource(serial8250_uart* up) {
    if (!has_rsa_ports(up)) return;
    __release_region(&ioport_resource, rsa_region_start(up), port_size(up));
}

int serial8250_request_port(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    int result = serial8250_request_std_resource(up);
    if (result == 0 && port->uart_type == type_rsa) {
        result = serial8250_request_rsa_resource(up);
        if (result < 0) serial8250_release_std_resource(up);
    }
    return result;
}

void serial8250_release_port(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    serial8250_release_std_resource(up);
    if (port->uart_type == type_rsa) serial8250_release_rsa_resource(up);
}

void serial8250_config_port(uart_port* port, int flags) {
    serial8250_uart* up = to_uart(port);
    if (serial8250_request_std_resource(up) < 0) return;

    // Memory-mapped ports have no RSA ports to claim; their RSA registers would lie outside the
    // window, so only a port whose RSA ports were really claimed is tried as an RSA board.
    const bool rsa_held = serial8250_request_rsa_resource(up) >= 0;
    const bool rsa_claimed = rsa_held && has_rsa_ports(up);

    if ((flags & want_type_detect) != 0) autoconfig(up, rsa_claimed);
    if (port->uart_type != type_unknown && (flags & want_irq_probe) != 0) autoconfig_irq(up);

    if (port->uart_type == type_rsa) return;
    if (rsa_held) serial8250_release_rsa_resource(up);
    if (port->uart_type == type_unknown) serial8250_release_std_resource(up);
}

// Counts what the receiver holds after a burst of 256 characters sent to itself in loopback at
// the highest rate the clock allows.
unsigned int size_fifo(serial8250_uart* up) {
    constexpr unsigned int burst = 256;

    const std::uint32_t saved_lcr = serial_in(up, reg_lcr);
    serial_out(up, reg_lcr, 0x00);
    const std::uint32_t saved_fcr = serial_in(up, reg_iir);
    const std::uint32_t saved_mcr = serial_in(up, reg_mcr);
    serial_out(up, reg_fcr, fcr_enable_fifo | fcr_clear_rcvr | fcr_clear_xmit);
    serial_out(up, reg_mcr, mcr_loop);
    serial_out(up, reg_lcr, lcr_dlab);
    const std::uint32_t saved_dll = serial_in(up, reg_dll);
    const std::uint32_t saved_dlm = serial_in(up, reg_dlm);
    serial_out(up, reg_dll, 0x01);
    serial_out(up, reg_dlm, 0x00);
    serial_out(up, reg_lcr, lcr_wlen8);

    for (unsigned int value = 0; value < burst; ++value) serial_out(up, reg_thr, value);

    // The 20 ms wait is far too long for an interrupt handler; say so once, with the caller.
    if (in_irq() != 0 && warned++ == 0) warn_at(__FILE__, __LINE__, __func__);

    mdelay(20);

    unsigned int count = 0;
    std::uint32_t lsr = serial_in(up, reg_lsr);
    while ((lsr & lsr_dr) != 0 && count < burst) {
        (void)serial_in(up, reg_rbr);
        ++count;
        lsr = serial_in(up, reg_lsr);
    }

    serial_out(up, reg_fcr, saved_fcr);
    serial_out(up, reg_mcr, saved_mcr);
    serial_out(up, reg_lcr, lcr_dlab);
    serial_out(up, reg_dll, saved_dll);
    serial_out(up, reg_dlm, saved_dlm);
    serial_out(up, reg_lcr, saved_lcr);
    return count;
}

// Some parts identify themselves by what their divisor latch reads after both halves were
// written 0.
unsigned int autoconfig_read_divisor_id(serial8250_uart* up) {
    const std::uint32_t saved_lcr = serial_in(up, reg_lcr);
    serial_out(up, reg_lcr, lcr_dlab);
    const std::uint32_t saved_dll = serial_in(up, reg_dll);
    const std::uint32_t saved_dlm = serial_in(up, reg_dlm);
    serial_out(up, reg_dll, 0x00);
    serial_out(up, reg_dlm, 0x00);
    const std::uint32_t low = byte_of(serial_in(up, reg_dll));
    const std::uint32_t high = byte_of(serial_in(up, reg_dlm));
    serial_out(up, reg_dll, saved_dll);
    serial_out(up, reg_dlm, saved_dlm);
    serial_out(up, reg_lcr, saved_lcr);
    return (high << 8) | low;
}

// An RSA board runs its UART from the fast clock once its FIFO mode is on.
int __enable_rsa(serial8250_uart* up) {
    std::uint32_t mode = serial_in(up, reg_rsa_mode);
    if ((mode & rsa_mode_fifo) == 0) {
        serial_out(up, reg_rsa_mode, mode | rsa_mode_fifo);
        mode = serial_in(up, reg_rsa_mode);
        if ((mode & rsa_mode_fifo) == 0) return 0;
    }
    up->port.uart_clock_hz = fast_clock_hz;
    return 1;
}

}  // extern "C"
