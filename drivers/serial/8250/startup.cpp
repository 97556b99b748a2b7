// Port startup and shutdown, and the chains of open ports that share an interrupt line.
#include "drivers/serial/8250/8250.h"
#include "drivers/serial/kernel/lock_guards.h"

namespace {

// The transmitter of a slow port may still be shifting out what the last user wrote; at the
// lowest rates one character takes about 10 ms.
constexpr int transmitter_wait_reads = 10000;

// About one second of waiting for the far end to signal it is ready.
constexpr int flow_wait_reads = 999999;

// FIFO reset sequence: enable, clear both FIFOs, disable.
constexpr std::uint8_t fcr_clear_both = fcr_enable_fifo | fcr_clear_rcvr | fcr_clear_xmit;

constexpr std::uint8_t startup_framing = lcr_wlen8;  // 8N1, latch and break off
constexpr std::uint8_t startup_ier = ier_rdi | ier_rlsi;

// Four-port boards: writing this to the board's register enables its interrupt output.
constexpr std::uint8_t four_port_irq_enable = 0x80;

// 16C950: EFR enhanced mode, so the extended registers are reachable.
constexpr std::uint8_t efr_enhanced_mode = efr_ecb;

// XR16850: FCTR and the trigger level register, reached in the EFR bank.
constexpr int xr_fctr = 1;
constexpr int xr_trg = 0;
constexpr std::uint8_t xr_fctr_trgd = 0x30;   // select trigger table D, RX side
constexpr std::uint8_t xr_fctr_tx_sel = 0x80; // programs the TX trigger rather than the RX one
constexpr std::uint8_t xr_trigger_level = 0x60;

irq_chain* chain_of(serial8250_uart* up) { return &irq_lists[up->port.irq_line]; }

bool has_line(const serial8250_uart* up) { return up->port.irq_line != 0; }

void arm_poll_timer(serial8250_uart* up, void (*callback)(unsigned long), unsigned long extra) {
    up->poll_timer.function = callback;
    up->poll_timer.data = reinterpret_cast<unsigned long>(up);
    mod_timer(&up->poll_timer, jiffies + poll_period(up->port.fifo_timeout) + extra);
}

void stop_poll_timer(serial8250_uart* up) {
    del_timer_sync(&up->poll_timer);
    up->poll_timer.function = serial8250_timeout;
}

void clear_fifos(serial8250_uart* up) {
    serial_out(up, reg_fcr, fcr_enable_fifo);
    serial_out(up, reg_fcr, fcr_clear_both);
    serial_out(up, reg_fcr, 0);
}

void read_away_status(serial8250_uart* up) {
    serial_in(up, reg_lsr);
    serial_in(up, reg_rbr);
    serial_in(up, reg_iir);
    serial_in(up, reg_msr);
}

void reset_16c950(serial8250_uart* up) {
    up->acr_shadow = 0;
    serial_out(up, reg_lcr, lcr_efr_bank);
    serial_out(up, reg_efr, efr_enhanced_mode);
    serial_out(up, reg_ier, 0);
    serial_out(up, reg_lcr, 0);
    serial_icr_write(up, icr_cks, 0);
    serial_out(up, reg_lcr, lcr_efr_bank);
    serial_out(up, reg_efr, efr_enhanced_mode);
    serial_out(up, reg_lcr, 0);
}

void start_rsa(serial8250_uart* up) {
    if (up->port.uart_clock_hz != fast_clock_hz) {
        irq_lock lock(&up->port.port_lock);
        __enable_rsa(up);
    }
    if (up->port.uart_clock_hz == fast_clock_hz) serial_out(up, reg_rsa_fifo_reset, 0);
}

void set_16850_triggers(serial8250_uart* up) {
    serial_out(up, reg_lcr, lcr_efr_bank);
    std::uint32_t fctr = serial_in(up, xr_fctr);
    serial_out(up, xr_fctr, (fctr & 0x7f) | xr_fctr_trgd);
    serial_out(up, xr_trg, xr_trigger_level);
    serial_out(up, xr_fctr, (fctr & 0x7f) | xr_fctr_tx_sel | xr_fctr_trgd);
    serial_out(up, xr_trg, xr_trigger_level);
    serial_out(up, reg_lcr, 0);
}

// Some UARTs raise the transmit interrupt only on the transition to empty, not when it is
// enabled with the holding register already empty. Find out with the port lock held, so that
// nothing else touches IER meanwhile; returns the IIR seen after the second enable.
std::uint32_t probe_transmit_interrupt(serial8250_uart* up) {
    irqsave_lock lock(&up->port.port_lock);

    for (int read = 1; read <= transmitter_wait_reads; ++read) {
        std::uint32_t lsr = serial_in(up, reg_lsr);
        if (read == transmitter_wait_reads) break;
        udelay(1);
        if (lsr & lsr_thre) break;
    }

    if (up->port.port_flags & wait_flow_at_startup) {
        for (int read = 0; read < flow_wait_reads; ++read) {
            std::uint32_t msr = serial_in(up, reg_msr);
            core_port_state* state = up->port.core_state;
            std::uint32_t flow = state != nullptr ? state->flags : 0;
            if ((flow & state_cts_flow) && (msr & msr_cts)) break;
            if ((flow & state_dsr_flow) && (msr & msr_dsr)) break;
            udelay(1);
            touch_nmi_watchdog();
        }
    }

    serial_out_sync(up, reg_ier, ier_thri);
    udelay(1);
    serial_in(up, reg_iir);
    serial_out(up, reg_ier, 0);
    serial_out_sync(up, reg_ier, ier_thri);
    udelay(1);
    std::uint32_t iir = serial_in(up, reg_iir);
    serial_out(up, reg_ier, 0);
    return iir;
}

// The first port on a line links itself before it requests the line, so the handler finds it
// as soon as the line can fire.
int join_chain(serial8250_uart* up) {
    irq_chain* entry = chain_of(up);
    const unsigned long request_flags = (up->port.port_flags & irq_shared) ? IRQF_SHARED : 0;
    {
        irq_lock lock(&entry->chain_lock);
        if (entry->chain_head != nullptr) {
            list_add(&up->chain_link, entry->chain_head);
            return 0;
        }
        INIT_LIST_HEAD(&up->chain_link);
        entry->chain_head = &up->chain_link;
    }
    int result = request_irq(up->port.irq_line, serial8250_interrupt, request_flags, "serial", entry);
    if (result < 0) serial_do_unlink(entry, up);
    return result;
}

void leave_chain(serial8250_uart* up) {
    irq_chain* entry = chain_of(up);
    bug_on(entry->chain_head == nullptr);
    // The line goes back before the last port leaves: the handler may still run once more, and
    // must then find the port (its IER is 0 by now).
    if (entry->chain_head->next == entry->chain_head) free_irq(up->port.irq_line, entry);
    serial_do_unlink(entry, up);
}

// Startup steps that run with the locks held: modem lines and the transmitter-enable test.
void startup_locked(serial8250_uart* up) {
    uart_port* port = &up->port;
    if (port->port_flags & four_port) {
        // The board gates interrupts itself; OUT1 is its polled ports' enable.
        if (!has_line(up)) port->modem_ctrl |= TIOCM_OUT1;
    } else if (has_line(up)) {
        // On PC cards OUT2 gates the chip's interrupt output onto the bus.
        port->modem_ctrl |= TIOCM_OUT2;
    }
    serial8250_set_mctrl(port, port->modem_ctrl);

    if (!(port->port_flags & skip_txen_test)) {
        serial_out(up, reg_ier, ier_thri);
        std::uint32_t lsr = serial_in(up, reg_lsr);
        std::uint32_t iir = serial_in(up, reg_iir);
        serial_out(up, reg_ier, 0);
        if ((lsr & lsr_temt) && (iir & iir_no_int)) {
            up->quirk_flags |= quirk_txen;
        } else {
            up->quirk_flags &= static_cast<std::uint16_t>(~quirk_txen);
        }
    }
}

}  // namespace

extern "C" {

int serial8250_startup(uart_port* port) {
    serial8250_uart* up = to_uart(port);

    // irq_lists is indexed by line number; a line beyond it cannot be served.
    if (port->irq_line >= nr_irq_lines) return -kerr::inval;

    const std::uint32_t type = port->uart_type < type_count ? port->uart_type : type_unknown;
    up->mcr_shadow = 0;
    up->cap_flags = static_cast<std::uint16_t>(uart_config[type].type_caps & 0xffff);

    if (type == type_16c950) reset_16c950(up);
    if (type == type_rsa) start_rsa(up);
    if (up->cap_flags & cap_fifo) clear_fifos(up);

    read_away_status(up);

    // A chip that is not there reads 0xff everywhere; going on would loop in the handler.
    if (!(port->port_flags & no_presence_test) && serial_in(up, reg_lsr) == 0xff) {
        printk("ttyS%d: LSR safety check engaged!\n", static_cast<int>(port->line_index));
        return -kerr::nodev;
    }

    if (type == type_16850) set_16850_triggers(up);

    if (!has_line(up)) {
        arm_poll_timer(up, serial8250_timeout, 0);
    } else {
        std::uint32_t iir = probe_transmit_interrupt(up);
        const bool needs_backup_timer = (iir & iir_no_int) != 0;
        if (needs_backup_timer) arm_poll_timer(up, serial8250_backup_timeout, backup_timer_extra_ticks);
        int result = join_chain(up);
        if (result != 0) {
            // A port that failed to open must not keep a timer running on a closed port.
            if (needs_backup_timer) stop_poll_timer(up);
            return result;
        }
    }

    serial_out(up, reg_lcr, startup_framing);

    if (has_line(up)) {
        irqsave_lock chain(&chain_of(up)->chain_lock);
        plain_lock lock(&port->port_lock);
        startup_locked(up);
    } else {
        irqsave_lock lock(&port->port_lock);
        startup_locked(up);
    }

    up->ier_shadow = startup_ier;
    serial_out(up, reg_ier, up->ier_shadow);

    if (port->port_flags & four_port) {
        std::uint16_t board_register = four_port_irq_register(port->io_base);
        outb_p(four_port_irq_enable, board_register);
        inb_p(board_register);
    }

    read_away_status(up);
    return 0;
}

void serial8250_shutdown(uart_port* port) {
    serial8250_uart* up = to_uart(port);

    up->ier_shadow = 0;
    serial_out(up, reg_ier, 0);

    {
        irqsave_lock lock(&port->port_lock);
        if (port->port_flags & four_port) {
            // Reading the board register acknowledges what the board still holds.
            inb(four_port_irq_register(port->io_base));
            port->modem_ctrl |= TIOCM_OUT1;
        } else {
            port->modem_ctrl &= ~TIOCM_OUT2;
        }
        serial8250_set_mctrl(port, port->modem_ctrl);
    }

    serial_out(up, reg_lcr, serial_in(up, reg_lcr) & ~static_cast<std::uint32_t>(lcr_sbc));
    if (up->cap_flags & cap_fifo) clear_fifos(up);

    if (port->uart_type == type_rsa && port->uart_clock_hz == fast_clock_hz) {
        irq_lock lock(&port->port_lock);
        std::uint32_t mode = serial_in(up, reg_rsa_mode);
        if (mode & rsa_mode_fifo) {
            serial_out(up, reg_rsa_mode, mode & ~static_cast<std::uint32_t>(rsa_mode_fifo));
            mode = serial_in(up, reg_rsa_mode);
        }
        // A board that keeps its FIFO mode keeps running from the fast clock.
        if (!(mode & rsa_mode_fifo)) port->uart_clock_hz = standard_clock_hz;
    }

    serial_in(up, reg_rbr);

    stop_poll_timer(up);

    // Startup refused lines beyond irq_lists, so such a port never joined a chain.
    if (has_line(up) && port->irq_line < nr_irq_lines) leave_chain(up);
}

void serial_do_unlink(irq_chain* entry, serial8250_uart* up) {
    irq_lock lock(&entry->chain_lock);
    list_head* head = entry->chain_head;
    bug_on(head == nullptr);
    if (head->next != head) {
        if (head == &up->chain_link) entry->chain_head = head->next;
        list_del(&up->chain_link);
    } else {
        bug_on(head != &up->chain_link);
        entry->chain_head = nullptr;
    }
}

}  // extern "C"
