// /proc/tty/driver/<name>: one line per added port, in the serial core's customary format.
#include <fmt/format.h>

#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"

namespace sim::kernel {

namespace {

bool is_memory_mapped(std::uint8_t access_kind) {
    return access_kind == access_mem8 || access_kind == access_mem32 ||
           access_kind == access_mem8_quirk;
}

std::string port_line(uart_port* port) {
    std::string text;
    if (is_memory_mapped(port->access_kind))
        text = fmt::format("{}: uart:{} mmio:0x{:08X} irq:{}", port->line_index,
                           driver::type(port), port->reg_window_phys, port->irq_line);
    else
        text = fmt::format("{}: uart:{} port:{:08X} irq:{}", port->line_index, driver::type(port),
                           port->io_base, port->irq_line);
    if (port->uart_type == 0) return text + "\n";

    unsigned int status = 0;
    uart_icount counters{};
    {
        PortLockGuard guard(port);
        status = driver::get_mctrl(port);
        counters = port->counters;
    }
    text += fmt::format(" tx:{} rx:{}", counters.tx_chars, counters.rx_chars);
    if (counters.frame_errors) text += fmt::format(" fe:{}", counters.frame_errors);
    if (counters.parity_errors) text += fmt::format(" pe:{}", counters.parity_errors);
    if (counters.breaks) text += fmt::format(" brk:{}", counters.breaks);
    if (counters.overruns) text += fmt::format(" oe:{}", counters.overruns);

    // Lines driven (as last set) and lines seen (as the UART reports them), in the usual order.
    std::string signals;
    const unsigned int driven = port->modem_ctrl;
    if (driven & TIOCM_RTS) signals += "|RTS";
    if (status & TIOCM_CTS) signals += "|CTS";
    if (driven & TIOCM_DTR) signals += "|DTR";
    if (status & TIOCM_DSR) signals += "|DSR";
    if (status & TIOCM_CAR) signals += "|CD";
    if (status & TIOCM_RNG) signals += "|RI";
    if (!signals.empty()) signals[0] = ' ';
    return text + signals + "\n";
}

}  // namespace

std::string SerialCore::proc_driver_text(std::string_view driver_name) {
    const DriverState* state = nullptr;
    for (const auto& driver : drivers_)
        if (std::string_view(driver->record->driver_name) == driver_name) state = driver.get();
    if (state == nullptr) return {};
    std::string text = "serinfo:1.0 driver revision:\n";
    for (const auto& line : state->lines)
        if (line->port != nullptr) text += port_line(line->port);
    return text;
}

}  // namespace sim::kernel
