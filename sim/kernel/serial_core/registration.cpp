// The registration side of the serial core: drivers, ports, suspend and resume.
#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "drivers/serial/kernel/printk.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"
#include "sim/kernel/serial_core/machine_link.h"

namespace sim::kernel {

namespace {

constexpr int max_driver_lines = 256;

bool has_address(const uart_port& port) {
    return port.io_base != 0 || port.reg_window_phys != 0 || port.reg_window != nullptr;
}

bool is_memory_mapped(std::uint8_t access_kind) {
    return access_kind == access_mem8 || access_kind == access_mem32 ||
           access_kind == access_mem8_quirk;
}

}  // namespace

SerialCore::SerialCore(Machine& machine) : machine_(machine) {}

SerialCore::~SerialCore() {
    // Ports still pointing at our per-line records must not keep those pointers.
    for (auto& driver : drivers_)
        for (auto& line : driver->lines)
            if (line->port != nullptr) line->port->core_state = nullptr;
}

SerialCore::DriverState* SerialCore::find_driver(const uart_driver* driver) const {
    for (const auto& state : drivers_)
        if (state->record == driver) return state.get();
    return nullptr;
}

SerialCore::DriverState* SerialCore::find_driver_by_major(int major) const {
    for (const auto& state : drivers_)
        if (state->record->major == major) return state.get();
    return nullptr;
}

SerialCore::Line* SerialCore::line_of_port(const uart_port* port) const {
    if (port == nullptr) return nullptr;
    for (const auto& driver : drivers_) {
        if (port->line_index >= driver->lines.size()) continue;
        Line& line = *driver->lines[port->line_index];
        if (line.port == port) return &line;
    }
    return nullptr;
}

int SerialCore::register_driver(uart_driver* driver) {
    if (driver == nullptr || driver->driver_name == nullptr || driver->dev_name == nullptr ||
        driver->nr <= 0 || driver->nr > max_driver_lines || driver->minor < 0 || driver->major <= 0)
        return -kerr::inval;
    if (find_driver(driver) != nullptr) return -kerr::busy;
    for (const auto& state : drivers_) {
        if (state->record->major == driver->major) return -kerr::busy;
        if (std::string_view(state->record->driver_name) == driver->driver_name)
            return -kerr::busy;
    }
    if (const auto error = link::injected_allocation_fault(machine_)) return *error;

    auto state = std::make_unique<DriverState>();
    state->record = driver;
    state->proc_path = fmt::format("/proc/tty/driver/{}", driver->driver_name);
    for (int index = 0; index < driver->nr; ++index) {
        auto line = std::make_unique<Line>();
        line->driver = state.get();
        line->index = static_cast<unsigned int>(index);
        line->termios = default_serial_termios();
        state->lines.push_back(std::move(line));
    }
    DriverState* registered = state.get();
    drivers_.push_back(std::move(state));
    driver->state = registered;
    link::add_virtual_file(machine_, registered->proc_path,
                           [this, name = std::string(driver->driver_name)] {
                               return proc_driver_text(name);
                           });
    return 0;
}

void SerialCore::unregister_driver(uart_driver* driver) {
    DriverState* state = find_driver(driver);
    if (state == nullptr) return;
    for (auto& line : state->lines)
        if (line->port != nullptr) remove_one_port(driver, line->port);
    // Files still open on these lines outlive them: they read end of file from now on.
    for (auto& [id, file] : files_) {
        if (file->line == nullptr || file->line->driver != state) continue;
        file->hung_up = true;
        file->line = nullptr;
    }
    link::remove_virtual_file(machine_, state->proc_path);
    driver->state = nullptr;
    std::erase_if(drivers_, [state](const auto& entry) { return entry.get() == state; });
}

int SerialCore::add_one_port(uart_driver* driver, uart_port* port) {
    DriverState* state = find_driver(driver);
    if (state == nullptr || port == nullptr || port->port_ops == nullptr) return -kerr::inval;
    if (port->line_index >= state->lines.size()) return -kerr::inval;
    Line& line = *state->lines[port->line_index];
    if (line.port != nullptr) return -kerr::inval;
    if (const auto error = link::injected_add_fault(machine_)) return *error;

    line.port = port;
    line.pm_state.reset();
    spin_lock_init(&port->port_lock);
    port->core_state = nullptr;
    configure_port(*state, line);
    return 0;
}

void SerialCore::configure_port(DriverState& driver, Line& line) {
    uart_port* port = line.port;
    if (!has_address(*port)) return;
    if (port->port_flags & configure_on_add) {
        port->uart_type = 0;
        int request = want_type_detect;
        if (port->port_flags & irq_autoprobe) request |= want_irq_probe;
        driver::config_port(port, request);
    }
    if (port->uart_type == 0) return;
    report_port(driver, *port);
    // Power the port up so that the modem lines can be set, make sure they are all off, and let
    // the port sleep until somebody opens it.
    change_pm(line, pm_full_power);
    {
        PortLockGuard guard(port);
        driver::set_mctrl(port, 0);
    }
    change_pm(line, pm_off);
}

void SerialCore::report_port(const DriverState& driver, const uart_port& port) {
    std::string address;
    if (port.access_kind == access_hub6)
        address = fmt::format("I/O 0x{:x} offset 0x{:x}", port.io_base, port.hub6_index);
    else if (is_memory_mapped(port.access_kind))
        address = fmt::format("MMIO 0x{:x}", port.reg_window_phys);
    else
        address = fmt::format("I/O 0x{:x}", port.io_base);
    const std::string owner =
        port.owner_device != nullptr ? fmt::format("{}: ", port.owner_device->bus_id) : "";
    const std::string message = fmt::format(
        "<6>{}{}{} at {} (irq = {}) is a {}\n", owner, driver.record->dev_name, port.line_index,
        address, static_cast<int>(port.irq_line), driver::type(const_cast<uart_port*>(&port)));
    printk("%s", message.c_str());
}

void SerialCore::change_pm(Line& line, unsigned int state) {
    if (line.pm_state == state) return;
    driver::pm(line.port, state, line.pm_state.value_or(~0u));
    line.pm_state = state;
}

void SerialCore::unconfigure_port(Line& line) {
    uart_port* port = line.port;
    if (line.active) hang_up(line);
    release_tty(line);
    if (port->uart_type != 0) driver::release_port(port);
    port->uart_type = 0;
    port->core_state = nullptr;
    line.port = nullptr;
    line.pm_state.reset();
    line.suspended = line.suspended_while_open = false;
    line.hangup_pending = false;
}

int SerialCore::remove_one_port(uart_driver* driver, uart_port* port) {
    DriverState* state = find_driver(driver);
    if (state == nullptr || port == nullptr) return -kerr::inval;
    if (port->line_index >= state->lines.size()) return 0;
    Line& line = *state->lines[port->line_index];
    if (line.port != port) return 0;  // not added: nothing to undo
    unconfigure_port(line);
    return 0;
}

int SerialCore::suspend_port(uart_driver* driver, uart_port* port) {
    DriverState* state = find_driver(driver);
    if (state == nullptr || port == nullptr || port->line_index >= state->lines.size())
        return -kerr::inval;
    Line& line = *state->lines[port->line_index];
    if (line.port != port) return -kerr::inval;
    if (line.suspended) return 0;
    line.suspended_while_open = line.initialized;
    if (line.initialized) {
        {
            PortLockGuard guard(port);
            driver::stop_tx(port);
            driver::set_mctrl(port, 0);
            driver::stop_rx(port);
        }
        // Let what is in the transmitter go out before the port loses power.
        const MachineDuration step = std::chrono::milliseconds(10);
        for (int waited = 0; waited < 200 && !driver::tx_empty(port); ++waited) run_for(step);
        driver::shutdown(port);
        line.initialized = false;
    }
    change_pm(line, pm_off);
    line.suspended = true;
    return 0;
}

int SerialCore::resume_port(uart_driver* driver, uart_port* port) {
    DriverState* state = find_driver(driver);
    if (state == nullptr || port == nullptr || port->line_index >= state->lines.size())
        return -kerr::inval;
    Line& line = *state->lines[port->line_index];
    if (line.port != port) return -kerr::inval;
    if (!line.suspended) return 0;
    line.suspended = false;
    change_pm(line, pm_full_power);
    if (line.suspended_while_open && line.active) {
        {
            PortLockGuard guard(port);
            driver::set_mctrl(port, 0);
        }
        if (driver::startup(port) == 0) {
            line.initialized = true;
            change_speed(line, nullptr);
            PortLockGuard guard(port);
            driver::set_mctrl(port, port->modem_ctrl);
            driver::start_tx(port);
        } else {
            // The hardware went away while asleep: the files stay open but refuse I/O.
            line.io_error = true;
        }
    }
    line.suspended_while_open = false;
    return 0;
}

void SerialCore::write_wakeup(uart_port* port) {
    Line* line = line_of_port(port);
    if (line == nullptr) return;
    ++line->write_wakeups;
    __wake_up(&line->write_wait, TASK_INTERRUPTIBLE, 1, nullptr);
}

unsigned int SerialCore::hz() const { return link::hz(machine_); }

const uart_driver* SerialCore::driver_for_major(int major) const {
    const DriverState* state = find_driver_by_major(major);
    return state == nullptr ? nullptr : state->record;
}

uart_port* SerialCore::port_at(unsigned int line, int major) const {
    const DriverState* state = find_driver_by_major(major);
    if (state == nullptr || line >= state->lines.size()) return nullptr;
    return state->lines[line]->port;
}

unsigned long SerialCore::write_wakeups(unsigned int line, int major) const {
    const DriverState* state = find_driver_by_major(major);
    if (state == nullptr || line >= state->lines.size()) return 0;
    return state->lines[line]->write_wakeups;
}

LineSettings SerialCore::line_settings(unsigned int line, int major) const {
    const DriverState* state = find_driver_by_major(major);
    if (state == nullptr || line >= state->lines.size()) return {};
    return state->lines[line]->settings;
}

int SerialCore::set_line_settings(unsigned int line, const LineSettings& settings, int major) {
    DriverState* state = find_driver_by_major(major);
    if (state == nullptr || line >= state->lines.size()) return -kerr::nodev;
    Line& target = *state->lines[line];
    target.settings = settings;
    // A running port follows the new DSR-flow setting at once, as it does a termios change.
    if (target.initialized) change_speed(target, nullptr);
    return 0;
}

}  // namespace sim::kernel
