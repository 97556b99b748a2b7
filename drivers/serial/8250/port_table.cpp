// The port table, the legacy PC ports, registration with the serial core and the platform bus,
// the module's parameters and information, and its life from load to unload.
#include "drivers/serial/8250/8250.h"

extern "C" {
serial8250_uart serial8250_ports[max_uart_ports];
irq_chain irq_lists[nr_irq_lines];
unsigned long probe_rsa[max_probe_rsa];
unsigned int probe_rsa_count;
extern module __this_module;
}

namespace {

// Module parameters.
unsigned int share_irqs = 1;
unsigned int nr_uarts = 4;

// The standard PC serial ports: COM1 to COM4 on their customary addresses and lines.
constexpr std::uint32_t legacy_baud_base = 115200;
constexpr std::uint32_t legacy_flags = configure_on_add | irq_autoprobe | skip_test;
// COM4 shares its address decoding with 8514/A-compatible video boards on many machines, so it
// runs the loopback test to tell a UART from a video register.
constexpr std::uint32_t legacy_flags_com4 = configure_on_add | irq_autoprobe;

const legacy_port old_serial_port[] = {
    {0, legacy_baud_base, 0x3f8, 4, legacy_flags, 0, 0, nullptr, 0},
    {0, legacy_baud_base, 0x2f8, 3, legacy_flags, 0, 0, nullptr, 0},
    {0, legacy_baud_base, 0x3e8, 4, legacy_flags, 0, 0, nullptr, 0},
    {0, legacy_baud_base, 0x2e8, 3, legacy_flags_com4, 0, 0, nullptr, 0},
};
constexpr unsigned int legacy_port_count = sizeof(old_serial_port) / sizeof(old_serial_port[0]);

// On the PC/AT, line 2 is the cascade input of the second interrupt controller; a device that
// the ISA bus wires to line 2 arrives on line 9.
constexpr std::uint32_t cascade_irq = 2;
constexpr std::uint32_t cascaded_irq = 9;

constexpr int tty_major = 4;
constexpr int ttys_first_minor = 64;

uart_driver serial8250_reg = {
    .owner = &__this_module,
    .driver_name = "serial",
    .dev_name = "ttyS",
    .major = tty_major,
    .minor = ttys_first_minor,
    .nr = static_cast<int>(max_uart_ports),
    .cons = nullptr,
    .state = nullptr,
};

platform_driver serial8250_isa_driver = {
    .probe = serial8250_probe,
    .remove = serial8250_remove,
    .shutdown = nullptr,
    .suspend = serial8250_suspend,
    .resume = serial8250_resume,
    .driver = {.name = "serial8250", .owner = &__this_module},
};

platform_device* serial8250_isa_devs;

mutex serial_mutex = mutex_unlocked;

int first = 1;

// How many slots the legacy-port set-up prepared (lock, timer, masks, operations). nr_uarts
// stays writable after load, so it alone must never decide which slots are touched.
unsigned int slots_set_up;

unsigned int min_count(unsigned int a, unsigned int b) { return a < b ? a : b; }

// Slots that registration may hand out: no more than the user asks for now, and never one the
// set-up did not prepare.
unsigned int registrable_slots() { return min_count(nr_uarts, slots_set_up); }

bool line_was_set_up(int port_line) {
    return port_line >= 0 && static_cast<unsigned int>(port_line) < slots_set_up;
}

serial8250_uart* find_match_or_unused(uart_port* templ) {
    const unsigned int count = registrable_slots();
    // The UART may already be in the table, e.g. a legacy port that a board driver now claims.
    for (unsigned int i = 0; i < count; ++i) {
        if (uart_match_port(&serial8250_ports[i].port, templ) != 0) return &serial8250_ports[i];
    }
    // Prefer a slot that never described any hardware, so that a legacy address stays
    // available for the UART that really sits there.
    for (unsigned int i = 0; i < count; ++i) {
        const uart_port& port = serial8250_ports[i].port;
        if (port.uart_type == type_unknown && port.io_base == 0) return &serial8250_ports[i];
    }
    for (unsigned int i = 0; i < count; ++i) {
        if (serial8250_ports[i].port.uart_type == type_unknown) return &serial8250_ports[i];
    }
    return nullptr;
}

void copy_template(uart_port& slot, const uart_port& templ) {
    slot.io_base = templ.io_base;
    slot.reg_window = templ.reg_window;
    slot.irq_line = templ.irq_line;
    slot.uart_clock_hz = templ.uart_clock_hz;
    slot.fifo_depth = templ.fifo_depth;
    slot.reg_shift = templ.reg_shift;
    slot.access_kind = templ.access_kind;
    slot.hub6_index = templ.hub6_index;
    slot.port_flags = templ.port_flags | configure_on_add;
    slot.reg_window_phys = templ.reg_window_phys;
    if (templ.owner_device != nullptr) slot.owner_device = templ.owner_device;
}

void add_legacy_slots(device* owner) {
    for (unsigned int i = 0; i < slots_set_up; ++i) {
        serial8250_ports[i].port.owner_device = owner;
        (void)uart_add_one_port(&serial8250_reg, &serial8250_ports[i].port);
    }
}

void remove_all_slots() {
    for (unsigned int i = 0; i < slots_set_up; ++i) {
        (void)uart_remove_one_port(&serial8250_reg, &serial8250_ports[i].port);
    }
}

// Module parameters as the loader and the parameter tree see them.
constexpr unsigned int mode_rw_r_r = 0644;
constexpr unsigned int mode_r_r_r = 0444;

kparam_array probe_rsa_array = {
    .max = max_probe_rsa,
    .num = &probe_rsa_count,
    .set = param_set_ulong,
    .get = param_get_ulong,
    .elemsize = sizeof(probe_rsa[0]),
    .elem = probe_rsa,
};

kernel_param serial8250_params[] = {
    {"share_irqs", mode_rw_r_r, param_set_uint, param_get_uint, &share_irqs},
    {"nr_uarts", mode_rw_r_r, param_set_uint, param_get_uint, &nr_uarts},
    {"probe_rsa", mode_r_r_r, param_array_set, param_array_get, &probe_rsa_array},
};

const kernel_symbol serial8250_exports[] = {
    {reinterpret_cast<const void*>(&serial8250_register_port), "serial8250_register_port"},
    {reinterpret_cast<const void*>(&serial8250_unregister_port), "serial8250_unregister_port"},
    {reinterpret_cast<const void*>(&serial8250_suspend_port), "serial8250_suspend_port"},
    {reinterpret_cast<const void*>(&serial8250_resume_port), "serial8250_resume_port"},
};

}  // namespace

// The module information the loader and the module tools read: NUL-terminated "key=value"
// strings in their own section. modinfo lists the parameters last to first.
[[gnu::section(".modinfo"), gnu::used, gnu::aligned(1)]] static const char serial8250_modinfo[] =
    "alias=char-major-4-*\0"
    "description=Generic 8250/16x50 serial driver $Revision: 1.90 $\0"
    "license=GPL\0"
    "depends=serial_core\0"
    "vermagic=2.6.18-xen SMP mod_unload \0"
    "parm=probe_rsa:Probe I/O ports for RSA\0"
    "parmtype=probe_rsa:array of ulong\0"
    "parm=nr_uarts:Maximum number of UARTs supported. (1-32)\0"
    "parmtype=nr_uarts:uint\0"
    "parm=share_irqs:Share IRQs with other non-8250/16x50 devices (unsafe)\0"
    "parmtype=share_irqs:uint";

extern "C" {

module __this_module = {
    .name = "8250",
    .init = serial8250_init,
    .exit = serial8250_exit,
    .params = serial8250_params,
    .num_params = sizeof(serial8250_params) / sizeof(serial8250_params[0]),
    .symbols = serial8250_exports,
    .num_symbols = sizeof(serial8250_exports) / sizeof(serial8250_exports[0]),
};

void serial8250_isa_init_ports(void) {
    if (first == 0) return;
    first = 0;

    slots_set_up = min_count(nr_uarts, max_uart_ports);
    for (unsigned int i = 0; i < slots_set_up; ++i) {
        serial8250_uart* up = &serial8250_ports[i];
        up->port.line_index = i;
        spin_lock_init(&up->port.port_lock);
        init_timer(&up->poll_timer);
        up->poll_timer.function = serial8250_timeout;
        up->mcr_mask = 0xff;
        up->mcr_force = 0;
        up->port.port_ops = &serial8250_pops;
    }

    const unsigned int legacy = min_count(legacy_port_count, slots_set_up);
    for (unsigned int i = 0; i < legacy; ++i) {
        const legacy_port& entry = old_serial_port[i];
        uart_port& port = serial8250_ports[i].port;
        port.io_base = entry.io_base;
        port.irq_line = entry.irq_line == cascade_irq ? cascaded_irq : entry.irq_line;
        port.uart_clock_hz = entry.baud_base * 16;
        port.port_flags = entry.port_flags | (share_irqs != 0 ? irq_shared : 0);
        port.hub6_index = entry.hub6_index;
        port.reg_window = entry.reg_window;
        port.access_kind = entry.access_kind;
        port.reg_shift = static_cast<std::uint8_t>(entry.reg_shift);
    }
}

// Platform start-up code describes ports (a console) before the module is initialised.
int early_serial_setup(uart_port* record) {
    if (record == nullptr) return -kerr::inval;
    if (record->line_index >= max_uart_ports) return -kerr::nodev;
    serial8250_isa_init_ports();
    serial8250_ports[record->line_index].port = *record;
    serial8250_ports[record->line_index].port.port_ops = &serial8250_pops;
    return 0;
}

int serial8250_register_port(uart_port* templ) {
    if (templ == nullptr || templ->uart_clock_hz == 0) return -kerr::inval;
    // The interrupt chains are indexed by line number.
    if (templ->irq_line >= nr_irq_lines) return -kerr::inval;

    mutex_lock(&serial_mutex);
    int result = -kerr::nospc;
    serial8250_uart* up = find_match_or_unused(templ);
    if (up != nullptr) {
        (void)uart_remove_one_port(&serial8250_reg, &up->port);
        copy_template(up->port, *templ);
        result = uart_add_one_port(&serial8250_reg, &up->port);
        if (result == 0) result = static_cast<int>(up->port.line_index);
    }
    mutex_unlock(&serial_mutex);
    return result;
}

// The port stays known to the serial core as a port of unknown type, so that its device node
// keeps working, and its slot is free for the next registration.
void serial8250_unregister_port(int port_line) {
    if (!line_was_set_up(port_line)) return;
    serial8250_uart* up = &serial8250_ports[port_line];

    mutex_lock(&serial_mutex);
    (void)uart_remove_one_port(&serial8250_reg, &up->port);
    if (serial8250_isa_devs != nullptr) {
        up->port.port_flags &= ~configure_on_add;
        up->port.uart_type = type_unknown;
        up->port.owner_device = &serial8250_isa_devs->dev;
        (void)uart_add_one_port(&serial8250_reg, &up->port);
    } else {
        up->port.owner_device = nullptr;
    }
    mutex_unlock(&serial_mutex);
}

int serial8250_suspend_port(int port_line) {
    if (!line_was_set_up(port_line)) return -kerr::inval;
    return uart_suspend_port(&serial8250_reg, &serial8250_ports[port_line].port);
}

int serial8250_resume_port(int port_line) {
    if (!line_was_set_up(port_line)) return -kerr::inval;
    return uart_resume_port(&serial8250_reg, &serial8250_ports[port_line].port);
}

// A board device lists its UARTs; each one is registered on its own, and one that cannot be
// registered does not keep the others from working.
int serial8250_probe(platform_device* dev) {
    const auto* entry = static_cast<const platform_port_entry*>(dev->dev.platform_data);
    uart_port templ{};
    for (int index = 0; entry != nullptr && entry->port_flags != 0; ++entry, ++index) {
        templ.io_base = static_cast<std::uint32_t>(entry->io_base);
        templ.reg_window = entry->reg_window;
        templ.irq_line = entry->irq_line;
        templ.uart_clock_hz = entry->uart_clock_hz;
        templ.reg_shift = entry->reg_shift;
        templ.access_kind = entry->access_kind;
        templ.port_flags = entry->port_flags | (share_irqs != 0 ? irq_shared : 0);
        templ.reg_window_phys = entry->reg_window_phys;
        templ.hub6_index = entry->hub6_index;
        templ.owner_device = &dev->dev;
        const int result = serial8250_register_port(&templ);
        if (result < 0) {
            printk("<3>%s %s: unable to register port at index %d (IO%lx MEM%lx IRQ%d): %d\n",
                   dev_driver_string(&dev->dev), dev->dev.bus_id, index,
                   static_cast<unsigned long>(entry->io_base),
                   static_cast<unsigned long>(entry->reg_window_phys),
                   static_cast<int>(entry->irq_line), result);
        }
    }
    return 0;
}

// Every set-up slot is looked at, whatever nr_uarts says now: a port registered while it was
// larger still belongs to the device that goes away.
int serial8250_remove(platform_device* dev) {
    for (unsigned int i = 0; i < slots_set_up; ++i) {
        if (serial8250_ports[i].port.owner_device == &dev->dev) {
            serial8250_unregister_port(static_cast<int>(i));
        }
    }
    return 0;
}

int serial8250_suspend(platform_device* dev, pm_message_t /*state*/) {
    for (serial8250_uart& up : serial8250_ports) {
        if (up.port.uart_type != type_unknown && up.port.owner_device == &dev->dev) {
            (void)uart_suspend_port(&serial8250_reg, &up.port);
        }
    }
    return 0;
}

int serial8250_resume(platform_device* dev) {
    for (serial8250_uart& up : serial8250_ports) {
        if (up.port.uart_type != type_unknown && up.port.owner_device == &dev->dev) {
            (void)uart_resume_port(&serial8250_reg, &up.port);
        }
    }
    return 0;
}

int serial8250_init(void) {
    if (nr_uarts > max_uart_ports) nr_uarts = max_uart_ports;
    printk("<6>Serial: 8250/16550 driver $Revision: 1.90 $ %d ports, IRQ sharing %sabled\n",
           static_cast<int>(nr_uarts), share_irqs != 0 ? "en" : "dis");

    for (irq_chain& chain : irq_lists) spin_lock_init(&chain.chain_lock);

    int result = uart_register_driver(&serial8250_reg);
    if (result != 0) return result;

    serial8250_isa_devs = platform_device_alloc("serial8250", -1);
    if (serial8250_isa_devs == nullptr) {
        result = -kerr::nomem;
        goto unregister_uart_driver;
    }
    result = platform_device_add(serial8250_isa_devs);
    if (result != 0) goto put_device;

    serial8250_isa_init_ports();
    add_legacy_slots(&serial8250_isa_devs->dev);

    result = platform_driver_register(&serial8250_isa_driver);
    if (result == 0) return 0;

    // Nothing of a failed load may stay behind in the serial core: the module's records go
    // away with it.
    remove_all_slots();
    platform_device_del(serial8250_isa_devs);
put_device:
    platform_device_put(serial8250_isa_devs);
    serial8250_isa_devs = nullptr;
unregister_uart_driver:
    uart_unregister_driver(&serial8250_reg);
    return result;
}

void serial8250_exit(void) {
    // With the legacy device gone, removal drops the ports instead of re-adding them.
    platform_device* isa_dev = serial8250_isa_devs;
    serial8250_isa_devs = nullptr;
    platform_driver_unregister(&serial8250_isa_driver);
    platform_device_unregister(isa_dev);
    uart_unregister_driver(&serial8250_reg);
}

}  // extern "C"
