// Interrupt service and the data path: characters between the UARTs and the tty layer, and the
// reaction to modem-status changes. Runs in the interrupt handler, the poll and backup timers,
// and under the serial core's calls that switch interrupt causes on and off.
#include "drivers/serial/8250/8250.h"
#include "drivers/serial/kernel/lock_guards.h"

namespace {

// More arrivals at the chain head than this within one handler call means a UART keeps its
// interrupt asserted whatever we do; give up and let the next interrupt continue.
constexpr int max_head_passes = 256;

// One push per call keeps the tty layer's work per interrupt bounded; 1 + 256 characters.
constexpr int receive_budget = 256;

// Writers are woken once the ring has room for a useful burst again.
constexpr int wakeup_chars = 256;

constexpr std::uint8_t lsr_rx_bits = lsr_dr | lsr_bi;

tty_struct* open_tty(serial8250_uart* up) {
    core_port_state* state = up->port.core_state;
    return state != nullptr ? state->tty : nullptr;
}

bool ring_has_data(serial8250_uart* up) {
    core_port_state* state = up->port.core_state;
    return state != nullptr && !uart_circ_empty(&state->transmit_ring);
}

void write_ier_shadow(serial8250_uart* up) { serial_out(up, reg_ier, up->ier_shadow); }

// Hardware flow control on one input (CTS or DSR). Both inputs share the one stop bit.
void flow_step(serial8250_uart* up, tty_struct* tty, bool signal_present) {
    if (tty == nullptr) return;
    if (tty->stopped_bits & modem_stopped) {
        if (signal_present) {
            tty->stopped_bits &= static_cast<std::uint8_t>(~modem_stopped);
            up->port.port_ops->start_tx(&up->port);
            uart_write_wakeup(&up->port);
        }
    } else if (!signal_present) {
        tty->stopped_bits |= modem_stopped;
        up->port.port_ops->stop_tx(&up->port);
    }
}

serial8250_uart* timer_port(unsigned long data) {
    return reinterpret_cast<serial8250_uart*>(data);
}

void service_with_lock(serial8250_uart* up) {
    irqsave_lock lock(&up->port.port_lock);
    service_port(up);
}

}  // namespace

extern "C" {

void service_port(serial8250_uart* up) {
    std::uint32_t status = serial_in(up, reg_lsr);
    if (status & lsr_rx_bits) receive_chars(up, &status);
    check_modem_status(up);
    if (status & lsr_thre) transmit_chars(up);
}

irqreturn_t serial8250_interrupt(int irq, void* dev_id, pt_regs* /*regs*/) {
    irq_chain* entry = static_cast<irq_chain*>(dev_id);
    int handled = IRQ_NONE;

    // The handler runs with local interrupts already off; the chain lock is taken as it stands.
    plain_lock chain(&entry->chain_lock);
    list_head* link = entry->chain_head;
    if (link == nullptr) return IRQ_NONE;  // the line is being given back; nobody to serve

    list_head* end_mark = nullptr;
    int head_passes = 0;
    do {
        serial8250_uart* up = uart_from_chain_link(link);
        std::uint32_t iir = serial_in(up, reg_iir);
        if (!(iir & iir_no_int)) {
            service_with_lock(up);
            handled = IRQ_HANDLED;
            end_mark = nullptr;
        } else if (end_mark == nullptr) {
            end_mark = link;
        }

        link = link->next;
        if (link == entry->chain_head) {
            if (head_passes > max_head_passes) {
                printk("<3>serial8250: too much work for irq%d\n", irq);
                break;
            }
            ++head_passes;
        }
    } while (link != end_mark);

    return handled;
}

void serial8250_timeout(unsigned long data) {
    serial8250_uart* up = timer_port(data);
    std::uint32_t iir = serial_in(up, reg_iir);
    if (!(iir & iir_no_int)) service_with_lock(up);
    mod_timer(&up->poll_timer, jiffies + poll_period(up->port.fifo_timeout));
}

// For UARTs that do not raise the transmit interrupt again once it has been cleared: look at the
// port now and then, and feed the transmitter if it is waiting for data.
void serial8250_backup_timeout(unsigned long data) {
    serial8250_uart* up = timer_port(data);
    const std::uint32_t fifo_timeout = up->port.fifo_timeout;
    const bool has_line = up->port.irq_line != 0;

    // With interrupts masked in the chip, the handler cannot run into us meanwhile.
    std::uint32_t saved_ier = 0;
    if (has_line) {
        saved_ier = serial_in(up, reg_ier);
        serial_out(up, reg_ier, 0);
    }

    std::uint32_t iir = serial_in(up, reg_iir);
    bool needs_service = !(iir & iir_no_int);
    if (!needs_service && (up->ier_shadow & ier_thri) &&
        (ring_has_data(up) || up->port.pending_xchar != 0) &&
        (serial_in(up, reg_lsr) & lsr_thre)) {
        needs_service = true;
    }
    if (needs_service) service_with_lock(up);

    if (has_line) serial_out(up, reg_ier, saved_ier);

    mod_timer(&up->poll_timer, jiffies + poll_period(fifo_timeout) + backup_timer_extra_ticks);
}

void receive_chars(serial8250_uart* up, std::uint32_t* status) {
    uart_port* port = &up->port;
    tty_struct* tty = open_tty(up);
    std::uint8_t lsr = static_cast<std::uint8_t>(*status & 0xff);
    int budget = receive_budget;

    do {
        unsigned char character = 0;
        if (lsr & lsr_dr) character = static_cast<unsigned char>(serial_in(up, reg_rbr));
        ++port->counters.rx_chars;
        char flag = TTY_NORMAL;

        if (lsr & lsr_brk_error_bits) {
            // A break shows up as a zero character with framing (and often parity) errors;
            // those are a side effect of the break, not errors of their own.
            if (lsr & lsr_bi) {
                lsr &= static_cast<std::uint8_t>(~(lsr_fe | lsr_pe));
                ++port->counters.breaks;
                // The secure attention key must fire even when breaks are masked or ignored.
                if ((port->port_flags & sak_on_break) && tty != nullptr) do_SAK(tty);
            } else if (lsr & lsr_pe) {
                ++port->counters.parity_errors;
            } else if (lsr & lsr_fe) {
                ++port->counters.frame_errors;
            }
            if (lsr & lsr_oe) ++port->counters.overruns;

            lsr &= static_cast<std::uint8_t>(port->rx_status_mask);
            if (lsr & lsr_bi) {
                flag = TTY_BREAK;
            } else if (lsr & lsr_pe) {
                flag = TTY_PARITY;
            } else if (lsr & lsr_fe) {
                flag = TTY_FRAME;
            }
        }

        if (tty != nullptr) {
            if ((lsr & port->rx_ignore_mask & ~static_cast<std::uint32_t>(lsr_oe)) == 0)
                tty_insert_flip_char(tty, character, flag);
            // The overrun lost the character after this one; mark the gap in the stream.
            if ((lsr & ~port->rx_ignore_mask & lsr_oe) != 0)
                tty_insert_flip_char(tty, 0, TTY_OVERRUN);
        }

        lsr = static_cast<std::uint8_t>(serial_in(up, reg_lsr));
    } while ((lsr & lsr_rx_bits) && budget-- > 0);

    // The push may run the line discipline; other users of the port need not wait for it.
    if (tty != nullptr) {
        _spin_unlock(&port->port_lock);
        tty_flip_buffer_push(tty);
        _spin_lock(&port->port_lock);
    }
    *status = lsr;
}

void transmit_chars(serial8250_uart* up) {
    uart_port* port = &up->port;

    // A flow-control character jumps the queue and goes alone, even to a stopped tty.
    if (port->pending_xchar != 0) {
        serial_out(up, reg_thr, port->pending_xchar);
        ++port->counters.tx_chars;
        port->pending_xchar = 0;
        return;
    }

    tty_struct* tty = open_tty(up);
    if (tty != nullptr && (tty->stopped_bits & (output_stopped | modem_stopped))) {
        serial8250_stop_tx(port);
        return;
    }

    if (ring_has_data(up)) {
        circ_buf* ring = &port->core_state->transmit_ring;
        long count = up->tx_load_size;
        do {
            serial_out(up, reg_thr, ring->buf[ring->tail]);
            ring->tail = (ring->tail + 1) & (uart_xmit_size - 1);
            ++port->counters.tx_chars;
            if (uart_circ_empty(ring)) break;
        } while (--count > 0);

        if (uart_circ_chars_pending(ring) < wakeup_chars) uart_write_wakeup(port);
        if (!uart_circ_empty(ring)) return;
    }

    // Nothing left to send: stop the transmit interrupt, or it would keep firing.
    if (up->ier_shadow & ier_thri) {
        up->ier_shadow &= static_cast<std::uint8_t>(~ier_thri);
        write_ier_shadow(up);
    }
}

std::uint32_t check_modem_status(serial8250_uart* up) {
    uart_port* port = &up->port;
    std::uint32_t msr = serial_in(up, reg_msr);
    core_port_state* state = port->core_state;

    if (!(msr & msr_any_delta) || !(up->ier_shadow & ier_msi) || state == nullptr) return msr;

    if (msr & msr_teri) ++port->counters.ring_edges;
    if (msr & msr_ddsr) {
        ++port->counters.dsr_changes;
        if (state->flags & state_dsr_flow) flow_step(up, state->tty, (msr & msr_dsr) != 0);
    }
    if (msr & msr_ddcd) {
        ++port->counters.dcd_changes;
        if (state->flags & state_check_cd) {
            if (msr & msr_dcd) {
                wake_up_interruptible(&state->open_wait);
            } else if (state->tty != nullptr) {
                tty_hangup(state->tty);
            }
        }
    }
    if (msr & msr_dcts) {
        ++port->counters.cts_changes;
        if (state->flags & state_cts_flow) flow_step(up, state->tty, (msr & msr_cts) != 0);
    }
    wake_up_interruptible(&state->modem_change_wait);
    return msr;
}

void serial8250_start_tx(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    if (!(up->ier_shadow & ier_thri)) {
        up->ier_shadow |= ier_thri;
        write_ier_shadow(up);
        // This part does not raise the transmit interrupt when it is enabled with the
        // transmitter already empty: nobody would ever start sending, so start here.
        if (up->quirk_flags & quirk_txen) {
            std::uint32_t lsr = serial_in(up, reg_lsr);
            std::uint32_t iir = serial_in(up, reg_iir);
            if ((lsr & lsr_temt) && (iir & iir_no_int)) transmit_chars(up);
        }
    }
    if (port->uart_type == type_16c950 && (up->acr_shadow & acr_tx_disable)) {
        up->acr_shadow &= static_cast<std::uint8_t>(~acr_tx_disable);
        serial_icr_write(up, icr_acr, up->acr_shadow);
    }
}

void serial8250_stop_tx(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    if (up->ier_shadow & ier_thri) {
        up->ier_shadow &= static_cast<std::uint8_t>(~ier_thri);
        write_ier_shadow(up);
    }
    // The 16C950 also halts its transmitter, so characters already in the FIFO wait too.
    if (port->uart_type == type_16c950) {
        up->acr_shadow |= acr_tx_disable;
        serial_icr_write(up, icr_acr, up->acr_shadow);
    }
}

void serial8250_stop_rx(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    up->ier_shadow &= static_cast<std::uint8_t>(~ier_rlsi);
    port->rx_status_mask &= ~static_cast<std::uint32_t>(lsr_dr);
    write_ier_shadow(up);
}

void serial8250_enable_ms(uart_port* port) {
    serial8250_uart* up = to_uart(port);
    up->ier_shadow |= ier_msi;
    write_ier_shadow(up);
}

}  // extern "C"
