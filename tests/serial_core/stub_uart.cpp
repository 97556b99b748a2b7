#include "tests/serial_core/stub_uart.h"

#include <algorithm>

#include "drivers/serial/kernel/tty.h"

namespace serial_core_test {

namespace {

StubUart& stub_of(uart_port* port) { return *reinterpret_cast<StubPortRecord*>(port)->stub; }

unsigned int stub_tx_empty(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("tx_empty");
    return stub.transmitter_idle ? 1u : 0u;
}
void stub_set_mctrl(uart_port* port, unsigned int mctrl) {
    stub_of(port).record("set_mctrl", static_cast<long>(mctrl));
}
unsigned int stub_get_mctrl(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("get_mctrl");
    return stub.modem_status;
}
void stub_stop_tx(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("stop_tx");
    stub.transmitting = false;
}
void stub_start_tx(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("start_tx");
    stub.start_transmitter();
}
void stub_stop_rx(uart_port* port) { stub_of(port).record("stop_rx"); }
void stub_enable_ms(uart_port* port) { stub_of(port).record("enable_ms"); }
void stub_break_ctl(uart_port* port, int state) { stub_of(port).record("break_ctl", state); }
int stub_startup(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("startup");
    return stub.startup_result;
}
void stub_shutdown(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("shutdown");
    stub.transmitting = false;
}
// As a driver does: the rate within what the clock allows, and the FIFO timeout for it.
void stub_set_termios(uart_port* port, ktermios* settings, ktermios* old_settings) {
    stub_of(port).record("set_termios", static_cast<long>(settings->c_cflag));
    const unsigned int rate =
        uart_get_baud_rate(port, settings, old_settings, 0, port->uart_clock_hz / 16);
    uart_update_timeout(port, settings->c_cflag, rate);
}
void stub_pm(uart_port* port, unsigned int state, unsigned int) {
    stub_of(port).record("pm", static_cast<long>(state));
}
const char* stub_type(uart_port* port) {
    switch (port->uart_type) {
    case 4: return "16550A";
    case 12: return "XR16850";
    default: return nullptr;
    }
}
void stub_release_port(uart_port* port) { stub_of(port).record("release_port"); }
int stub_request_port(uart_port* port) {
    StubUart& stub = stub_of(port);
    stub.record("request_port");
    return stub.request_port_result;
}
void stub_config_port(uart_port* port, int flags) {
    StubUart& stub = stub_of(port);
    stub.record("config_port", flags);
    if (flags & want_type_detect) port->uart_type = stub.detected_type;
}
int stub_verify_port(uart_port* port, requested_settings* settings) {
    StubUart& stub = stub_of(port);
    stub.record("verify_port", settings->req_irq);
    return stub.verify_result;
}

}  // namespace

const uart_ops StubUart::operations = {
    .tx_empty = stub_tx_empty,
    .set_mctrl = stub_set_mctrl,
    .get_mctrl = stub_get_mctrl,
    .stop_tx = stub_stop_tx,
    .start_tx = stub_start_tx,
    .send_xchar = nullptr,
    .stop_rx = stub_stop_rx,
    .enable_ms = stub_enable_ms,
    .break_ctl = stub_break_ctl,
    .startup = stub_startup,
    .shutdown = stub_shutdown,
    .set_termios = stub_set_termios,
    .pm = stub_pm,
    .set_wake = nullptr,
    .type = stub_type,
    .release_port = stub_release_port,
    .request_port = stub_request_port,
    .config_port = stub_config_port,
    .verify_port = stub_verify_port,
    .ioctl = nullptr,
};

StubUart::StubUart(sim::kernel::Machine& machine_, std::uint32_t line) : machine(machine_) {
    record_.stub = this;
    uart_port& port = record_.port;
    spin_lock_init(&port.port_lock);
    port.io_base = 0x3f8;
    port.irq_line = 4;
    port.uart_clock_hz = 1843200;
    port.fifo_depth = 16;
    port.port_flags = configure_on_add;
    port.port_ops = &operations;
    port.line_index = line;
}

void StubUart::record(const char* operation, long argument) {
    calls.push_back(StubCall{operation, record_.port.port_lock.slock == 0, argument});
}

std::vector<std::string> StubUart::names() const {
    std::vector<std::string> result;
    for (const StubCall& call : calls) result.push_back(call.operation);
    return result;
}

std::size_t StubUart::count(const std::string& operation) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const StubCall& call) { return call.operation == operation; }));
}

const StubCall* StubUart::last(const std::string& operation) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->operation == operation) return &*it;
    return nullptr;
}

void StubUart::start_transmitter() {
    if (transmitting) return;
    transmitting = true;
    machine.events().schedule_after(pace, [this] { transmit_burst(); });
}

void StubUart::transmit_burst() {
    uart_port& port = record_.port;
    if (!transmitting || port.core_state == nullptr) {
        transmitting = false;
        return;
    }
    circ_buf& ring = port.core_state->transmit_ring;
    if (port.pending_xchar != 0) {
        sent.push_back(port.pending_xchar);
        port.pending_xchar = 0;
    } else {
        for (std::size_t n = 0; n < burst && !uart_circ_empty(&ring); ++n) {
            sent.push_back(ring.buf[ring.tail]);
            ring.tail = (ring.tail + 1) & (uart_xmit_size - 1);
            ++port.counters.tx_chars;
        }
        if (uart_circ_chars_pending(&ring) < 256) uart_write_wakeup(&port);
    }
    if (uart_circ_empty(&ring) && port.pending_xchar == 0) {
        transmitting = false;
        return;
    }
    machine.events().schedule_after(pace, [this] { transmit_burst(); });
}

void StubUart::receive(const std::vector<unsigned char>& bytes, char flag) {
    uart_port& port = record_.port;
    if (port.core_state == nullptr || port.core_state->tty == nullptr) return;
    tty_struct* tty = port.core_state->tty;
    for (unsigned char byte : bytes) {
        tty_insert_flip_char(tty, byte, flag);
        ++port.counters.rx_chars;
    }
    tty_flip_buffer_push(tty);
}

void StubUart::modem_change(unsigned int new_status) {
    uart_port& port = record_.port;
    const unsigned int changed = new_status ^ modem_status;
    modem_status = new_status;
    if (changed & TIOCM_CTS) ++port.counters.cts_changes;
    if (changed & TIOCM_DSR) ++port.counters.dsr_changes;
    if (changed & TIOCM_CAR) ++port.counters.dcd_changes;
    if (changed & TIOCM_RNG) ++port.counters.ring_edges;
    if (port.core_state != nullptr) {
        if ((changed & TIOCM_CAR) && (port.core_state->flags & state_check_cd)) {
            if (new_status & TIOCM_CAR)
                wake_up_interruptible(&port.core_state->open_wait);
            else
                tty_hangup(port.core_state->tty);
        }
        wake_up_interruptible(&port.core_state->modem_change_wait);
    }
}

uart_driver make_ttys_driver() {
    uart_driver driver{};
    driver.driver_name = "serial";
    driver.dev_name = "ttyS";
    driver.major = 4;
    driver.minor = 64;
    driver.nr = 32;
    return driver;
}

}  // namespace serial_core_test
