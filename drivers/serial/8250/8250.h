// The 8250/16x50 driver's own records and the functions its source files share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drivers/serial/8250/registers.h"
#include "drivers/serial/kernel/kernel.h"

// Capability flags (`serial8250_uart::cap_flags`).
inline constexpr std::uint16_t cap_natsemi = 0x0008;
inline constexpr std::uint16_t cap_fifo = 0x0100;
inline constexpr std::uint16_t cap_efr = 0x0200;
inline constexpr std::uint16_t cap_sleep = 0x0400;
inline constexpr std::uint16_t cap_auto_flow = 0x0800;
inline constexpr std::uint16_t cap_uue = 0x1000;

// Quirk flags (`serial8250_uart::quirk_flags`).
inline constexpr std::uint16_t quirk_quot = 0x0001;
inline constexpr std::uint16_t quirk_txen = 0x0002;

// UART types: indices into `uart_config`.
enum uart_type_number : std::uint32_t {
    type_unknown = 0,
    type_8250 = 1,
    type_16450 = 2,
    type_16550 = 3,
    type_16550a = 4,
    type_cirrus = 5,
    type_16650 = 6,
    type_16650v2 = 7,
    type_16750 = 8,
    type_startech = 9,
    type_16c950 = 10,
    type_16654 = 11,
    type_16850 = 12,
    type_rsa = 13,
    type_ns16550a = 14,
    type_xscale = 15,
    type_count = 16,
};

struct uart_type_info {
    const char* name_text;
    std::uint16_t fifo_size;
    std::uint16_t tx_load;
    std::uint8_t fifo_ctrl;
    std::uint32_t type_caps;
};

extern "C" const uart_type_info uart_config[type_count];

// The driver's record of one UART. The generic part comes first, so a `uart_port*` from the
// serial core is a pointer to this record.
struct serial8250_uart {
    uart_port port;
    timer_list poll_timer;
    list_head chain_link;
    std::uint16_t cap_flags;
    std::uint16_t quirk_flags;
    std::uint32_t tx_load_size;
    std::uint8_t acr_shadow;
    std::uint8_t ier_shadow;
    std::uint8_t lcr_shadow;
    std::uint8_t mcr_shadow;
    std::uint8_t mcr_mask;
    std::uint8_t mcr_force;
};
static_assert(offsetof(serial8250_uart, port) == 0, "the generic part must come first");

inline serial8250_uart* to_uart(uart_port* port) { return reinterpret_cast<serial8250_uart*>(port); }

inline serial8250_uart* uart_from_chain_link(list_head* link) {
    return reinterpret_cast<serial8250_uart*>(reinterpret_cast<char*>(link) -
                                              offsetof(serial8250_uart, chain_link));
}

// One interrupt line's ring of open ports.
struct irq_chain {
    spinlock_t chain_lock;
    list_head* chain_head;  // a member's chain_link, null when no open port uses the line
};

// The legacy PC serial ports.
struct legacy_port {
    std::uint32_t type;
    std::uint32_t baud_base;
    std::uint32_t io_base;
    std::uint32_t irq_line;
    std::uint32_t port_flags;
    std::uint8_t hub6_index;
    std::uint8_t access_kind;
    unsigned char* reg_window;
    std::uint16_t reg_shift;
};

// A board's port description, carried as an array in a "serial8250" platform device's data.
// The array ends at the first entry whose port_flags is 0.
struct platform_port_entry {
    std::uint64_t io_base;
    unsigned char* reg_window;
    std::uint64_t reg_window_phys;
    std::uint32_t irq_line;
    std::uint32_t uart_clock_hz;
    std::uint8_t reg_shift;
    std::uint8_t access_kind;
    std::uint8_t hub6_index;
    std::uint32_t port_flags;
};

inline constexpr unsigned int max_uart_ports = 32;
inline constexpr unsigned int max_probe_rsa = 4;

// Global state (port_table.cpp).
extern "C" {
extern serial8250_uart serial8250_ports[max_uart_ports];
extern irq_chain irq_lists[nr_irq_lines];
extern const uart_ops serial8250_pops;
extern unsigned long probe_rsa[max_probe_rsa];
extern unsigned int probe_rsa_count;
}

// The poll period in ticks for a port's fifo_timeout.
inline unsigned long poll_period(std::uint32_t fifo_timeout) {
    return fifo_timeout > 6 ? fifo_timeout / 2 - 2 : 1;
}
inline constexpr unsigned long backup_timer_extra_ticks = 50;

// Four-port boards: the shared interrupt register.
inline std::uint16_t four_port_irq_register(std::uint32_t io_base) {
    return static_cast<std::uint16_t>((io_base & 0xfe0) | 0x1f);
}

extern "C" {
// Register access (port_access.cpp).
std::uint32_t serial_in(serial8250_uart* up, int offset);
void serial_out(serial8250_uart* up, int offset, std::uint32_t value);
void serial_out_sync(serial8250_uart* up, int offset, std::uint32_t value);
void serial_icr_write(serial8250_uart* up, int index, std::uint32_t value);
std::uint32_t serial_icr_read(serial8250_uart* up, int index);
const char* serial8250_type(uart_port* port);
int serial8250_verify_port(uart_port* port, requested_settings* settings);

// Registration and module life (port_table.cpp).
int serial8250_init(void);
void serial8250_exit(void);
void serial8250_isa_init_ports(void);
int early_serial_setup(uart_port* record);
int serial8250_register_port(uart_port* templ);
void serial8250_unregister_port(int port_line);
int serial8250_suspend_port(int port_line);
int serial8250_resume_port(int port_line);
int serial8250_probe(platform_device* dev);
int serial8250_remove(platform_device* dev);
int serial8250_suspend(platform_device* dev, pm_message_t state);
int serial8250_resume(platform_device* dev);

// Startup, shutdown and chains (startup.cpp).
int serial8250_startup(uart_port* port);
void serial8250_shutdown(uart_port* port);
void serial_do_unlink(irq_chain* entry, serial8250_uart* up);

// Interrupt service and data path (data_path.cpp).
irqreturn_t serial8250_interrupt(int irq, void* dev_id, pt_regs* regs);
void serial8250_timeout(unsigned long data);
void serial8250_backup_timeout(unsigned long data);
void service_port(serial8250_uart* up);
void receive_chars(serial8250_uart* up, std::uint32_t* status);
void transmit_chars(serial8250_uart* up);
std::uint32_t check_modem_status(serial8250_uart* up);
void serial8250_start_tx(uart_port* port);
void serial8250_stop_tx(uart_port* port);
void serial8250_stop_rx(uart_port* port);
void serial8250_enable_ms(uart_port* port);

// Line settings and modem control (line_settings.cpp).
void serial8250_set_termios(uart_port* port, ktermios* new_termios, ktermios* old_termios);
void serial8250_set_mctrl(uart_port* port, unsigned int mctrl);
unsigned int serial8250_get_mctrl(uart_port* port);
void serial8250_break_ctl(uart_port* port, int break_state);
unsigned int serial8250_tx_empty(uart_port* port);
void serial8250_pm(uart_port* port, unsigned int state, unsigned int old_state);

// Autoconfiguration and I/O resources (autoconfig.cpp).
int serial8250_request_std_resource(serial8250_uart* up);
void serial8250_release_std_resource(serial8250_uart* up);
int serial8250_request_rsa_resource(serial8250_uart* up);
void serial8250_release_rsa_resource(serial8250_uart* up);
int serial8250_request_port(uart_port* port);
void serial8250_release_port(uart_port* port);
void serial8250_config_port(uart_port* port, int flags);
unsigned int size_fifo(serial8250_uart* up);
unsigned int autoconfig_read_divisor_id(serial8250_uart* up);
int __enable_rsa(serial8250_uart* up);
}
