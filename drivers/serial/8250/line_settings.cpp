// Line settings and modem control: speed, framing, FIFOs, flow control, break and sleep.
#include "drivers/serial/8250/8250.h"
#include "drivers/serial/kernel/lock_guards.h"

namespace {

// Below this rate a character takes long enough that a one-byte receive trigger costs nothing,
// and a deeper trigger would only delay input.
constexpr unsigned int fifo_trigger_min_baud = 2400;

// MCR-controlled automatic flow control only works with the chip's large FIFO mode.
constexpr std::uint32_t auto_flow_min_fifo = 32;

// The status bits the receive path always acts on: overrun, transmitter ready, data ready.
constexpr std::uint32_t base_status_mask = lsr_oe | lsr_thre | lsr_dr;

// 16C950 sample clock: 4 or 8 samples per bit instead of 16 for the two highest rates.
constexpr std::uint8_t tcr_4_samples = 0x04;
constexpr std::uint8_t tcr_8_samples = 0x08;

constexpr unsigned int high_speed_quot_div4 = 0x8001;
constexpr unsigned int high_speed_quot_div8 = 0x8002;

const uart_type_info& type_info(const serial8250_uart* up) {
    std::uint32_t type = up->port.uart_type;
    return uart_config[type < type_count ? type : type_unknown];
}

std::uint8_t framing_byte(tcflag_t cflag) {
    std::uint8_t cval = 0;
    switch (cflag & CSIZE) {
        case CS5: cval = lcr_wlen5; break;
        case CS6: cval = lcr_wlen6; break;
        case CS7: cval = lcr_wlen7; break;
        default: cval = lcr_wlen8; break;
    }
    if (cflag & CSTOPB) cval |= lcr_stop;
    if (cflag & PARENB) cval |= lcr_parity;
    // The even-parity bit follows PARODD alone, parity enabled or not.
    if (!(cflag & PARODD)) cval |= lcr_eparity;
    if (cflag & CMSPAR) cval |= lcr_sparity;
    return cval;
}

unsigned int divisor_for(serial8250_uart* up, unsigned int baud) {
    uart_port* port = &up->port;
    const std::uint32_t clock = port->uart_clock_hz;
    unsigned int quot = 0;
    if ((port->port_flags & high_speed_divisors) && baud == clock / 4) {
        quot = high_speed_quot_div4;
    } else if ((port->port_flags & high_speed_divisors) && baud == clock / 8) {
        quot = high_speed_quot_div8;
    } else if (port->uart_type == type_16c950 && baud > clock / 16) {
        // Above clock/16 the 16C950 reaches the rate through its sample clock instead.
        quot = 1;
    } else {
        quot = uart_get_divisor(port, baud);
    }
    // One 16C950 revision misbehaves with a divisor whose low byte is zero.
    if ((up->quirk_flags & quirk_quot) && (quot & 0xff) == 0) ++quot;
    return quot;
}

std::uint8_t fifo_control_byte(serial8250_uart* up, unsigned int baud) {
    if (!(up->cap_flags & cap_fifo) || up->port.fifo_depth <= 1) return 0;
    return baud < fifo_trigger_min_baud ? fcr_enable_fifo : type_info(up).fifo_ctrl;
}

std::uint32_t status_mask_for(tcflag_t iflag) {
    std::uint32_t mask = base_status_mask;
    if (iflag & INPCK) mask |= lsr_fe | lsr_pe;
    if (iflag & (BRKINT | PARMRK)) mask |= lsr_bi;
    return mask;
}

std::uint32_t ignore_mask_for(tcflag_t iflag, tcflag_t cflag) {
    std::uint32_t mask = 0;
    if (iflag & IGNPAR) mask |= lsr_pe | lsr_fe;
    if (iflag & IGNBRK) {
        mask |= lsr_bi;
        // Ignoring both breaks and parity errors means the user wants no error reports at all.
        if (iflag & IGNPAR) mask |= lsr_oe;
    }
    if (!(cflag & CREAD)) mask |= lsr_dr;
    return mask;
}

bool wants_modem_irq(const serial8250_uart* up, tcflag_t cflag) {
    const uart_port* port = &up->port;
    if (port->port_flags & always_modem_irq) return true;
    if (cflag & CRTSCTS) return true;
    if (port->core_state != nullptr && (port->core_state->flags & state_dsr_flow)) return true;
    return !(cflag & CLOCAL);
}

}  // namespace

extern "C" {

void serial8250_set_termios(uart_port* port, ktermios* new_termios, ktermios* old_termios) {
    serial8250_uart* up = to_uart(port);
    const tcflag_t cflag = new_termios->c_cflag;
    const tcflag_t iflag = new_termios->c_iflag;
    const std::uint32_t clock = port->uart_clock_hz;

    const std::uint8_t cval = framing_byte(cflag);
    const unsigned int max_baud = port->uart_type == type_16c950 ? clock / 4 : clock / 16;
    const unsigned int baud = uart_get_baud_rate(port, new_termios, old_termios, 0, max_baud);
    const unsigned int quot = divisor_for(up, baud);
    const std::uint8_t fcr = fifo_control_byte(up, baud);

    if ((up->cap_flags & cap_auto_flow) && port->fifo_depth >= auto_flow_min_fifo) {
        up->mcr_shadow &= static_cast<std::uint8_t>(~mcr_afe);
        if (cflag & CRTSCTS) up->mcr_shadow |= mcr_afe;
    }

    irqsave_lock lock(&port->port_lock);

    if (port->uart_type == type_16c950) {
        std::uint8_t tcr = 0;
        if (baud == clock / 4) {
            tcr = tcr_4_samples;
        } else if (baud == clock / 8) {
            tcr = tcr_8_samples;
        }
        serial_icr_write(up, icr_tcr, tcr);
    }

    uart_update_timeout(port, cflag, baud);

    port->rx_status_mask = status_mask_for(iflag);
    port->rx_ignore_mask = ignore_mask_for(iflag, cflag);

    up->ier_shadow &= static_cast<std::uint8_t>(~ier_msi);
    if (wants_modem_irq(up, cflag)) up->ier_shadow |= ier_msi;
    if (up->cap_flags & cap_uue) up->ier_shadow |= ier_uue | ier_rtoie;
    serial_out(up, reg_ier, up->ier_shadow);

    if (up->cap_flags & cap_efr) {
        serial_out(up, reg_lcr, lcr_efr_bank);
        serial_out(up, reg_efr, (cflag & CRTSCTS) ? efr_cts : 0);
    }

    // The NS16550A keeps its divisor latch in register bank 2 once its fast clock is on.
    serial_out(up, reg_lcr, (up->cap_flags & cap_natsemi) ? lcr_ns_bank2 : cval | lcr_dlab);
    serial_out(up, reg_dll, quot & 0xff);
    serial_out(up, reg_dlm, (quot >> 8) & 0xff);

    // The TI16750 takes its 64-byte FIFO mode bit only while the divisor latch is open.
    if (port->uart_type == type_16750) serial_out(up, reg_fcr, fcr);

    serial_out(up, reg_lcr, cval);
    up->lcr_shadow = cval;

    if (port->uart_type != type_16750) {
        // Trigger and mode bits are taken only with the FIFO already enabled.
        if (fcr & fcr_enable_fifo) serial_out(up, reg_fcr, fcr_enable_fifo);
        serial_out(up, reg_fcr, fcr);
    }

    serial8250_set_mctrl(port, port->modem_ctrl);
}

void serial8250_set_mctrl(uart_port* port, unsigned int mctrl) {
    serial8250_uart* up = to_uart(port);
    std::uint8_t mcr = 0;
    if (mctrl & TIOCM_RTS) mcr |= mcr_rts;
    if (mctrl & TIOCM_DTR) mcr |= mcr_dtr;
    if (mctrl & TIOCM_OUT1) mcr |= mcr_out1;
    if (mctrl & TIOCM_OUT2) mcr |= mcr_out2;
    if (mctrl & TIOCM_LOOP) mcr |= mcr_loop;
    mcr = static_cast<std::uint8_t>((mcr & up->mcr_mask) | up->mcr_force | up->mcr_shadow);
    serial_out(up, reg_mcr, mcr);
}

unsigned int serial8250_get_mctrl(uart_port* port) {
    std::uint32_t status = check_modem_status(to_uart(port));
    unsigned int lines = 0;
    if (status & msr_dcd) lines |= TIOCM_CAR;
    if (status & msr_ri) lines |= TIOCM_RNG;
    if (status & msr_dsr) lines |= TIOCM_DSR;
    if (status & msr_cts) lines |= TIOCM_CTS;
    return lines;
}

void serial8250_break_ctl(uart_port* port, int break_state) {
    serial8250_uart* up = to_uart(port);
    irqsave_lock lock(&port->port_lock);
    if (break_state == -1) {
        up->lcr_shadow |= lcr_sbc;
    } else {
        up->lcr_shadow &= static_cast<std::uint8_t>(~lcr_sbc);
    }
    serial_out(up, reg_lcr, up->lcr_shadow);
}

unsigned int serial8250_tx_empty(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    irqsave_lock lock(&port->port_lock);
    return (serial_in(up, reg_lsr) & lsr_temt) ? 1 : 0;
}

void serial8250_pm(uart_port* port, unsigned int state, unsigned int /*old_state*/) {
    serial8250_uart* up = to_uart(port);
    if (!(up->cap_flags & cap_sleep)) return;
    const bool has_efr = (up->cap_flags & cap_efr) != 0;
    // On EFR parts the sleep bit is an enhanced function: it only sticks with EFR's enable on.
    if (has_efr) {
        serial_out(up, reg_lcr, lcr_efr_bank);
        serial_out(up, reg_efr, efr_ecb);
        serial_out(up, reg_lcr, 0);
    }
    serial_out(up, reg_ier, state != 0 ? ier_sleep : 0);
    if (has_efr) {
        serial_out(up, reg_lcr, lcr_efr_bank);
        serial_out(up, reg_efr, 0);
        serial_out(up, reg_lcr, 0);
    }
}

}  // extern "C"
