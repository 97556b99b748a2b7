// Calls into a driver's operations table. An empty slot is an operation the driver does not
// have: the call does nothing and reports what a missing operation means (no error, lines
// absent, transmitter empty).
#pragma once

#include "drivers/serial/kernel/serial_core.h"
#include "drivers/serial/kernel/lock_guards.h"

namespace sim::kernel {

// spin_lock_irqsave on a port lock.
class PortLockGuard : irqsave_lock {
public:
    explicit PortLockGuard(uart_port* port) : irqsave_lock(&port->port_lock) {}
};

namespace driver {

inline const uart_ops* ops(const uart_port* port) { return port->port_ops; }

inline unsigned int tx_empty(uart_port* port) {
    return ops(port)->tx_empty ? ops(port)->tx_empty(port) : 1u;
}
inline void set_mctrl(uart_port* port, unsigned int mctrl) {
    if (ops(port)->set_mctrl) ops(port)->set_mctrl(port, mctrl);
}
inline unsigned int get_mctrl(uart_port* port) {
    return ops(port)->get_mctrl ? ops(port)->get_mctrl(port) : 0u;
}
inline void stop_tx(uart_port* port) {
    if (ops(port)->stop_tx) ops(port)->stop_tx(port);
}
inline void start_tx(uart_port* port) {
    if (ops(port)->start_tx) ops(port)->start_tx(port);
}
inline void stop_rx(uart_port* port) {
    if (ops(port)->stop_rx) ops(port)->stop_rx(port);
}
inline void enable_ms(uart_port* port) {
    if (ops(port)->enable_ms) ops(port)->enable_ms(port);
}
inline void break_ctl(uart_port* port, int state) {
    if (ops(port)->break_ctl) ops(port)->break_ctl(port, state);
}
inline int startup(uart_port* port) { return ops(port)->startup ? ops(port)->startup(port) : 0; }
inline void shutdown(uart_port* port) {
    if (ops(port)->shutdown) ops(port)->shutdown(port);
}
inline void set_termios(uart_port* port, ktermios* settings, ktermios* old_settings) {
    if (ops(port)->set_termios) ops(port)->set_termios(port, settings, old_settings);
}
inline void pm(uart_port* port, unsigned int state, unsigned int old_state) {
    if (ops(port)->pm) ops(port)->pm(port, state, old_state);
}
inline const char* type(uart_port* port) {
    const char* name = ops(port)->type ? ops(port)->type(port) : nullptr;
    return name != nullptr ? name : "unknown";
}
inline void release_port(uart_port* port) {
    if (ops(port)->release_port) ops(port)->release_port(port);
}
inline int request_port(uart_port* port) {
    return ops(port)->request_port ? ops(port)->request_port(port) : 0;
}
inline void config_port(uart_port* port, int flags) {
    if (ops(port)->config_port) ops(port)->config_port(port, flags);
}
inline int verify_port(uart_port* port, requested_settings* settings) {
    return ops(port)->verify_port ? ops(port)->verify_port(port, settings) : 0;
}

}  // namespace driver
}  // namespace sim::kernel
