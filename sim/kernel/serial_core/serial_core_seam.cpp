// The serial core's services, bound by their kernel names. Those that keep state go to the
// serial core of the machine the call runs on; the arithmetic ones need no machine.
#include "drivers/serial/kernel/serial_core.h"

#include "sim/kernel/serial_core/baud.h"
#include "sim/kernel/serial_core/machine_link.h"
#include "sim/kernel/serial_core/serial_core.h"

namespace {

using sim::kernel::link::current_serial_core;

bool is_memory_mapped(std::uint8_t access_kind) {
    return access_kind == access_mem8 || access_kind == access_mem32 ||
           access_kind == access_mem8_quirk;
}

enum class AccessClass { port_io, hub6, memory };

AccessClass access_class(std::uint8_t access_kind) {
    if (access_kind == access_hub6) return AccessClass::hub6;
    if (is_memory_mapped(access_kind)) return AccessClass::memory;
    return AccessClass::port_io;  // port I/O, the wide window, and unknown kinds alike
}

}  // namespace

extern "C" {

int uart_register_driver(uart_driver* drv) { return current_serial_core().register_driver(drv); }

void uart_unregister_driver(uart_driver* drv) { current_serial_core().unregister_driver(drv); }

int uart_add_one_port(uart_driver* drv, uart_port* port) {
    return current_serial_core().add_one_port(drv, port);
}

int uart_remove_one_port(uart_driver* drv, uart_port* port) {
    return current_serial_core().remove_one_port(drv, port);
}

int uart_suspend_port(uart_driver* drv, uart_port* port) {
    return current_serial_core().suspend_port(drv, port);
}

int uart_resume_port(uart_driver* drv, uart_port* port) {
    return current_serial_core().resume_port(drv, port);
}

int uart_match_port(uart_port* port1, uart_port* port2) {
    if (port1 == nullptr || port2 == nullptr) return 0;
    const AccessClass kind = access_class(port1->access_kind);
    if (kind != access_class(port2->access_kind)) return 0;
    switch (kind) {
    case AccessClass::port_io:
        return port1->io_base != 0 && port1->io_base == port2->io_base;
    case AccessClass::hub6:
        return port1->io_base != 0 && port1->io_base == port2->io_base &&
               port1->hub6_index == port2->hub6_index;
    case AccessClass::memory:
        if (port1->reg_window_phys != 0 || port2->reg_window_phys != 0)
            return port1->reg_window_phys == port2->reg_window_phys;
        return port1->reg_window != nullptr && port1->reg_window == port2->reg_window;
    }
    return 0;
}

unsigned int uart_get_baud_rate(uart_port* /*port*/, ktermios* new_termios,
                                ktermios* old_termios, unsigned int min, unsigned int max) {
    if (new_termios == nullptr) {
        ktermios fallback{};
        fallback.c_cflag = B9600;
        return sim::kernel::baud::choose_rate(fallback, old_termios, min, max);
    }
    return sim::kernel::baud::choose_rate(*new_termios, old_termios, min, max);
}

unsigned int uart_get_divisor(uart_port* port, unsigned int baud) {
    if (port == nullptr) return 0;
    return sim::kernel::baud::divisor_for(port->uart_clock_hz, baud);
}

void uart_update_timeout(uart_port* port, unsigned int cflag, unsigned int baud) {
    if (port == nullptr) return;
    const auto ticks = sim::kernel::baud::fifo_timeout_ticks(cflag, port->fifo_depth, baud,
                                                             current_serial_core().hz());
    if (ticks) port->fifo_timeout = *ticks;
}

void uart_write_wakeup(uart_port* port) { current_serial_core().write_wakeup(port); }

}  // extern "C"
