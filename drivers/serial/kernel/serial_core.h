// The serial core: the layer between the tty devices and UART drivers. A driver describes each
// port with a `uart_port` record (the generic part of its own record) and an operations table;
// the serial core calls those operations on behalf of the processes that use the port.
#pragma once

#if defined(TIOCM_DTR)
#error "the C library's modem-line definitions are already included; keep them in a separate file"
#endif

#include <cstdint>

#include "drivers/serial/kernel/platform_device.h"
#include "drivers/serial/kernel/spinlock.h"
#include "drivers/serial/kernel/termios.h"
#include "drivers/serial/kernel/tty.h"
#include "drivers/serial/kernel/wait.h"

struct module;
struct uart_ops;

// Modem-control and modem-status bits exchanged with the serial core.
inline constexpr unsigned int TIOCM_LE = 0x001;
inline constexpr unsigned int TIOCM_DTR = 0x002;
inline constexpr unsigned int TIOCM_RTS = 0x004;
inline constexpr unsigned int TIOCM_ST = 0x008;
inline constexpr unsigned int TIOCM_SR = 0x010;
inline constexpr unsigned int TIOCM_CTS = 0x020;
inline constexpr unsigned int TIOCM_CAR = 0x040;
inline constexpr unsigned int TIOCM_RNG = 0x080;
inline constexpr unsigned int TIOCM_DSR = 0x100;
inline constexpr unsigned int TIOCM_OUT1 = 0x2000;
inline constexpr unsigned int TIOCM_OUT2 = 0x4000;
inline constexpr unsigned int TIOCM_LOOP = 0x8000;

// Port flags (`uart_port::port_flags`).
inline constexpr std::uint32_t four_port = 0x2;
inline constexpr std::uint32_t sak_on_break = 0x4;
inline constexpr std::uint32_t skip_test = 0x40;
inline constexpr std::uint32_t irq_autoprobe = 0x80;
inline constexpr std::uint32_t always_modem_irq = 0x800;
inline constexpr std::uint32_t no_presence_test = 0x4000;
inline constexpr std::uint32_t skip_txen_test = 0x8000;
inline constexpr std::uint32_t high_speed_divisors = 0x10000;
inline constexpr std::uint32_t wait_flow_at_startup = 0x800000;
inline constexpr std::uint32_t irq_shared = 0x1000000;
inline constexpr std::uint32_t configure_on_add = 0x10000000;
inline constexpr std::uint32_t map_on_request = 0x80000000;

// How a port's registers are reached (`uart_port::access_kind`).
inline constexpr std::uint8_t access_port_io = 0;
inline constexpr std::uint8_t access_hub6 = 1;
inline constexpr std::uint8_t access_mem8 = 2;
inline constexpr std::uint8_t access_mem32 = 3;
inline constexpr std::uint8_t access_wide_window = 4;
inline constexpr std::uint8_t access_mem8_quirk = 5;

// Request bits of the config_port operation.
inline constexpr int want_type_detect = 0x1;
inline constexpr int want_irq_probe = 0x2;

// Flags of `core_port_state::flags`.
inline constexpr std::uint32_t state_dsr_flow = 0x01000000;
inline constexpr std::uint32_t state_check_cd = 0x02000000;
inline constexpr std::uint32_t state_cts_flow = 0x04000000;

inline constexpr int uart_xmit_size = 4096;

// The transmit ring: `head` is the next byte to fill, `tail` the next byte to send.
struct circ_buf {
    unsigned char* buf;
    int head;
    int tail;
};

inline int uart_circ_chars_pending(const circ_buf* ring) {
    return (ring->head - ring->tail) & (uart_xmit_size - 1);
}
inline bool uart_circ_empty(const circ_buf* ring) { return ring->head == ring->tail; }

// The serial core's record of an open port.
struct core_port_state {
    tty_struct* tty;                      // may be null
    std::uint32_t flags;                  // state_dsr_flow, state_check_cd, state_cts_flow
    circ_buf transmit_ring;
    wait_queue_head_t open_wait;          // woken when the carrier comes up
    wait_queue_head_t modem_change_wait;  // woken after every handled modem-status change
};

struct uart_icount {
    std::uint32_t cts_changes;
    std::uint32_t dsr_changes;
    std::uint32_t ring_edges;
    std::uint32_t dcd_changes;
    std::uint32_t rx_chars;
    std::uint32_t tx_chars;
    std::uint32_t frame_errors;
    std::uint32_t overruns;
    std::uint32_t parity_errors;
    std::uint32_t breaks;
};

// The generic port record. A driver's own record starts with it, so the pointer the serial core
// passes to every operation is also a pointer to the driver's record.
struct uart_port {
    spinlock_t port_lock;
    std::uint32_t io_base;
    unsigned char* reg_window;
    std::uint32_t irq_line;
    std::uint32_t uart_clock_hz;
    std::uint32_t fifo_depth;
    unsigned char pending_xchar;
    std::uint8_t reg_shift;
    std::uint8_t access_kind;
    std::uint32_t rx_status_mask;
    std::uint32_t rx_ignore_mask;
    core_port_state* core_state;
    uart_icount counters;
    std::uint32_t port_flags;
    std::uint32_t modem_ctrl;
    std::uint32_t fifo_timeout;  // ticks, set by uart_update_timeout
    std::uint32_t uart_type;
    const uart_ops* port_ops;
    std::uint32_t line_index;
    std::uint64_t reg_window_phys;
    device* owner_device;
    std::uint8_t hub6_index;
};

// User settings proposed through the serial-info ioctl.
struct requested_settings {
    std::int32_t req_type;
    std::int32_t line;
    std::uint32_t port;
    std::int32_t req_irq;
    std::int32_t flags;
    std::int32_t xmit_fifo_size;
    std::int32_t custom_divisor;
    std::int32_t req_baud_base;
    std::uint16_t close_delay;
    char io_type;
    char reserved_char;
    std::int32_t hub6;
    std::uint16_t closing_wait;
    std::uint16_t closing_wait2;
    unsigned char* iomem_base;
    std::uint16_t iomem_reg_shift;
    std::uint32_t port_high;
    unsigned long iomap_base;
};

// The operations a UART driver gives the serial core, in the serial core's slot order.
struct uart_ops {
    unsigned int (*tx_empty)(uart_port* port);
    void (*set_mctrl)(uart_port* port, unsigned int mctrl);
    unsigned int (*get_mctrl)(uart_port* port);
    void (*stop_tx)(uart_port* port);
    void (*start_tx)(uart_port* port);
    void (*send_xchar)(uart_port* port, char character);
    void (*stop_rx)(uart_port* port);
    void (*enable_ms)(uart_port* port);
    void (*break_ctl)(uart_port* port, int break_state);
    int (*startup)(uart_port* port);
    void (*shutdown)(uart_port* port);
    void (*set_termios)(uart_port* port, ktermios* new_termios, ktermios* old_termios);
    void (*pm)(uart_port* port, unsigned int state, unsigned int old_state);
    int (*set_wake)(uart_port* port, unsigned int state);
    const char* (*type)(uart_port* port);
    void (*release_port)(uart_port* port);
    int (*request_port)(uart_port* port);
    void (*config_port)(uart_port* port, int flags);
    int (*verify_port)(uart_port* port, requested_settings* settings);
    int (*ioctl)(uart_port* port, unsigned int command, unsigned long argument);
};

// A UART driver's registration record.
struct uart_driver {
    module* owner;
    const char* driver_name;  // "serial"
    const char* dev_name;     // device name prefix, "ttyS"
    int major;
    int minor;                // first minor
    int nr;                   // number of lines
    void* cons;               // console, none here
    void* state;              // the serial core's, set at registration
};

extern "C" {
int uart_register_driver(uart_driver* drv);
void uart_unregister_driver(uart_driver* drv);
int uart_add_one_port(uart_driver* drv, uart_port* port);
int uart_remove_one_port(uart_driver* drv, uart_port* port);
int uart_suspend_port(uart_driver* drv, uart_port* port);
int uart_resume_port(uart_driver* drv, uart_port* port);
// Non-zero when both records describe the same UART.
int uart_match_port(uart_port* port1, uart_port* port2);

// The rate the settings ask for, kept within [min, max].
unsigned int uart_get_baud_rate(uart_port* port, ktermios* new_termios, ktermios* old_termios,
                                unsigned int min, unsigned int max);
// The divisor for `baud` from the port's clock, rounded to nearest.
unsigned int uart_get_divisor(uart_port* port, unsigned int baud);
// Sets `fifo_timeout` from the framing, the FIFO depth and the rate.
void uart_update_timeout(uart_port* port, unsigned int cflag, unsigned int baud);
// Wakes processes waiting to write.
void uart_write_wakeup(uart_port* port);
}
