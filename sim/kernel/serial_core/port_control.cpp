// The serial core's own moves around a running port: settings, modem lines, output start and
// stop, flow-control characters, throttling, and waiting for output to drain.
#include <algorithm>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"
#include "sim/kernel/serial_core/machine_link.h"

namespace sim::kernel {

bool SerialCore::run_until(const std::function<bool()>& done, MachineDuration limit) {
    if (done()) return true;
    if (limit <= MachineDuration::zero()) return false;
    return link::run_until(machine_, done, limit);
}

void SerialCore::run_for(MachineDuration duration) {
    if (duration > MachineDuration::zero()) link::run_for(machine_, duration);
}

void SerialCore::update_flow_flags(Line& line) {
    std::uint32_t flags = line.state.flags & ~(state_cts_flow | state_check_cd | state_dsr_flow);
    if (line.termios.c_cflag & CRTSCTS) flags |= state_cts_flow;
    if (!(line.termios.c_cflag & CLOCAL)) flags |= state_check_cd;
    if (line.settings.dsr_flow) flags |= state_dsr_flow;
    line.state.flags = flags;
}

void SerialCore::change_speed(Line& line, const ktermios* old_settings) {
    uart_port* port = line.port;
    if (port == nullptr || port->uart_type == 0 || !line.initialized) return;
    update_flow_flags(line);
    // The driver may write the rate it fell back to into the settings; they are the line's own.
    ktermios old_copy{};
    ktermios* old_pointer = nullptr;
    if (old_settings != nullptr) {
        old_copy = *old_settings;
        old_pointer = &old_copy;
    }
    driver::set_termios(port, &line.termios, old_pointer);
}

void SerialCore::update_mctrl(Line& line, unsigned int set, unsigned int clear) {
    uart_port* port = line.port;
    PortLockGuard guard(port);
    const unsigned int old_lines = port->modem_ctrl;
    port->modem_ctrl = (old_lines & ~clear) | set;
    if (port->modem_ctrl != old_lines) driver::set_mctrl(port, port->modem_ctrl);
}

void SerialCore::start_output(Line& line) {
    if (!line.initialized || line.tty == nullptr) return;
    uart_port* port = line.port;
    PortLockGuard guard(port);
    const std::uint8_t stopped = line.tty->raw()->stopped_bits;
    if (!uart_circ_empty(&line.state.transmit_ring) && !(stopped & (output_stopped | modem_stopped)))
        driver::start_tx(port);
}

void SerialCore::stop_output(Line& line) {
    if (line.tty == nullptr) return;
    uart_port* port = line.port;
    PortLockGuard guard(port);
    line.tty->raw()->stopped_bits |= output_stopped;
    if (line.initialized) driver::stop_tx(port);
}

void SerialCore::send_xchar(Line& line, unsigned char character) {
    if (!line.initialized) return;
    uart_port* port = line.port;
    if (port->port_ops->send_xchar != nullptr) {
        port->port_ops->send_xchar(port, static_cast<char>(character));
        return;
    }
    PortLockGuard guard(port);
    port->pending_xchar = character;
    if (character != 0) driver::start_tx(port);
}

void SerialCore::throttle(Line& line) {
    if (!line.initialized) return;
    if (line.termios.c_iflag & IXOFF) send_xchar(line, line.termios.c_cc[VSTOP]);
    if (line.termios.c_cflag & CRTSCTS) update_mctrl(line, 0, TIOCM_RTS);
}

void SerialCore::unthrottle(Line& line) {
    if (!line.initialized) return;
    uart_port* port = line.port;
    if (line.termios.c_iflag & IXOFF) {
        bool stop_still_pending = false;
        {
            PortLockGuard guard(port);
            if (port->pending_xchar != 0) {
                // The STOP never left: taking it back is all the other end needs.
                port->pending_xchar = 0;
                stop_still_pending = true;
            }
        }
        if (!stop_still_pending) send_xchar(line, line.termios.c_cc[VSTART]);
    }
    if (line.termios.c_cflag & CRTSCTS) update_mctrl(line, TIOCM_RTS, 0);
}

int SerialCore::wait_until_sent(Line& line, MachineDuration limit) {
    if (!line.initialized) return 0;
    const bool drained = run_until(
        [&] {
            return uart_circ_empty(&line.state.transmit_ring) || line.hangup_pending ||
                   !line.initialized;
        },
        limit);
    if (!drained) return -kerr::intr;
    if (line.initialized && !line.hangup_pending) wait_transmitter_empty(line, 0);
    return 0;
}

void SerialCore::wait_transmitter_empty(Line& line, unsigned long ticks_limit) {
    uart_port* port = line.port;
    if (!line.initialized) return;
    const unsigned int ticks_per_second = std::max(1u, hz());
    const unsigned long port_timeout = port->fifo_timeout;
    const unsigned long margin = ticks_per_second / 50;
    const unsigned long depth = std::max<std::uint32_t>(port->fifo_depth, 1);
    // Poll about five times per character time, as the customary loop does.
    unsigned long char_time = port_timeout > margin ? (port_timeout - margin) / depth / 5 : 0;
    char_time = std::max(char_time, 1ul);
    if (ticks_limit != 0 && ticks_limit < char_time) char_time = ticks_limit;
    unsigned long budget = ticks_limit;
    if (budget == 0 || budget > 2 * port_timeout) budget = 2 * port_timeout;
    if (budget == 0) budget = ticks_per_second;  // settings never applied: allow a second
    const MachineDuration tick = std::chrono::nanoseconds(1'000'000'000ll / ticks_per_second);
    unsigned long waited = 0;
    while (!driver::tx_empty(port) && waited <= budget) {
        run_for(tick * static_cast<long>(char_time));
        waited += char_time;
        if (!line.initialized) return;
    }
}

}  // namespace sim::kernel
