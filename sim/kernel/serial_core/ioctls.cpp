// The ioctls a serial user needs: settings, modem lines, break, drain, flush, flow, counters and
// waiting for modem-line changes.
#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"
#include "sim/kernel/serial_core/machine_link.h"

namespace sim::kernel {

namespace {

// Input flags the driver turns into receive masks; a change of these alone reaches the driver.
constexpr tcflag_t relevant_iflag = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK;
constexpr unsigned int settable_modem_lines =
    TIOCM_DTR | TIOCM_RTS | TIOCM_OUT1 | TIOCM_OUT2 | TIOCM_LOOP;

uart_icount counters_of(uart_port* port) {
    PortLockGuard guard(port);
    return port->counters;
}

}  // namespace

KernelResult<ktermios> SerialCore::get_termios(FileHandle handle) {
    auto found = live_line(handle, false);
    if (!found) return kernel_error(found.error());
    return (*found)->termios;
}

int SerialCore::set_termios(FileHandle handle, const ktermios& settings, SettingsWhen when,
                            MachineDuration limit) {
    auto found = live_line(handle, false);
    if (!found) return found.error();
    Line& line = **found;
    if (when != SettingsWhen::now) {
        if (wait_until_sent(line, limit) != 0) return -kerr::intr;
        run_deferred_work();
        if (!line.active) return -kerr::io;
        if (when == SettingsWhen::after_flush) line.tty->flush_input();
    }

    const ktermios old = line.termios;
    line.termios = settings;
    const tcflag_t cflag = settings.c_cflag;
    if (cflag == old.c_cflag && ((settings.c_iflag ^ old.c_iflag) & relevant_iflag) == 0) return 0;
    if (!line.initialized) return 0;  // kept for the next startup

    change_speed(line, &old);
    uart_port* port = line.port;
    const tcflag_t applied = line.termios.c_cflag;
    if ((old.c_cflag & CBAUD) && !(applied & CBAUD)) update_mctrl(line, 0, TIOCM_RTS | TIOCM_DTR);
    if (!(old.c_cflag & CBAUD) && (applied & CBAUD)) {
        unsigned int lines = TIOCM_DTR;
        if (!(applied & CRTSCTS) || !line.tty->throttled()) lines |= TIOCM_RTS;
        update_mctrl(line, lines, 0);
    }
    if ((old.c_cflag & CRTSCTS) && !(applied & CRTSCTS)) {
        {
            PortLockGuard guard(port);
            line.tty->raw()->stopped_bits &= static_cast<std::uint8_t>(~modem_stopped);
        }
        start_output(line);
    }
    if (!(old.c_cflag & CRTSCTS) && (applied & CRTSCTS)) {
        PortLockGuard guard(port);
        if (!(driver::get_mctrl(port) & TIOCM_CTS)) {
            line.tty->raw()->stopped_bits |= modem_stopped;
            driver::stop_tx(port);
        }
    }
    return 0;
}

KernelResult<unsigned int> SerialCore::get_modem_lines(FileHandle handle) {
    auto found = live_line(handle, true);
    if (!found) return kernel_error(found.error());
    uart_port* port = (*found)->port;
    PortLockGuard guard(port);
    return port->modem_ctrl | driver::get_mctrl(port);
}

int SerialCore::set_modem_lines(FileHandle handle, unsigned int lines) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    update_mctrl(**found, lines & settable_modem_lines, ~lines & settable_modem_lines);
    return 0;
}

int SerialCore::raise_modem_lines(FileHandle handle, unsigned int lines) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    update_mctrl(**found, lines & settable_modem_lines, 0);
    return 0;
}

int SerialCore::lower_modem_lines(FileHandle handle, unsigned int lines) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    update_mctrl(**found, 0, lines & settable_modem_lines);
    return 0;
}

int SerialCore::send_break(FileHandle handle, MachineDuration duration) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    Line& line = **found;
    if (wait_until_sent(line, default_wait_limit) != 0) return -kerr::intr;
    run_deferred_work();
    if (!line.initialized) return -kerr::io;
    driver::break_ctl(line.port, -1);
    run_for(duration);
    if (line.port != nullptr && line.initialized) driver::break_ctl(line.port, 0);
    return 0;
}

int SerialCore::set_break(FileHandle handle, bool on) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    driver::break_ctl((*found)->port, on ? -1 : 0);
    return 0;
}

int SerialCore::drain(FileHandle handle, MachineDuration limit) {
    auto found = live_line(handle, false);
    if (!found) return found.error();
    return wait_until_sent(**found, limit);
}

int SerialCore::flush(FileHandle handle, FlushQueues queues) {
    auto found = live_line(handle, false);
    if (!found) return found.error();
    Line& line = **found;
    if (queues != FlushQueues::output) line.tty->flush_input();
    if (queues != FlushQueues::input) {
        {
            PortLockGuard guard(line.port);
            line.state.transmit_ring.head = line.state.transmit_ring.tail = 0;
        }
        __wake_up(&line.write_wait, TASK_INTERRUPTIBLE, 1, nullptr);
    }
    return 0;
}

int SerialCore::flow(FileHandle handle, FlowAction action) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    Line& line = **found;
    switch (action) {
    case FlowAction::stop_output: stop_output(line); break;
    case FlowAction::start_output:
        {
            PortLockGuard guard(line.port);
            line.tty->raw()->stopped_bits &= static_cast<std::uint8_t>(~output_stopped);
        }
        start_output(line);
        break;
    case FlowAction::send_stop: send_xchar(line, line.termios.c_cc[VSTOP]); break;
    case FlowAction::send_start: send_xchar(line, line.termios.c_cc[VSTART]); break;
    }
    return 0;
}

KernelResult<uart_icount> SerialCore::get_counters(FileHandle handle) {
    auto found = live_line(handle, false);
    if (!found) return kernel_error(found.error());
    return counters_of((*found)->port);
}

int SerialCore::wait_modem_change(FileHandle handle, unsigned int mask, MachineDuration limit) {
    auto found = live_line(handle, true);
    if (!found) return found.error();
    Line& line = **found;
    OpenFile& opened = **file_for(handle);
    uart_port* port = line.port;
    uart_icount previous{};
    {
        PortLockGuard guard(port);
        previous = port->counters;
        driver::enable_ms(port);
    }
    const auto start = link::now(machine_);
    while (true) {
        const uart_icount now = counters_of(port);
        const bool changed = ((mask & TIOCM_RNG) && now.ring_edges != previous.ring_edges) ||
                             ((mask & TIOCM_DSR) && now.dsr_changes != previous.dsr_changes) ||
                             ((mask & TIOCM_CAR) && now.dcd_changes != previous.dcd_changes) ||
                             ((mask & TIOCM_CTS) && now.cts_changes != previous.cts_changes);
        if (changed) return 0;
        previous = now;
        const MachineDuration spent = link::now(machine_) - start;
        if (spent >= limit) return -kerr::intr;
        const unsigned long seen = line.state.modem_change_wait.wake_count;
        run_until(
            [&] {
                return line.state.modem_change_wait.wake_count != seen || line.hangup_pending ||
                       !line.initialized;
            },
            limit - spent);
        run_deferred_work();
        if (opened.hung_up || !line.initialized) return -kerr::io;
    }
}

}  // namespace sim::kernel
