// Opening and closing ttyS devices: the port's startup and shutdown around its users, hang-up.
#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"
#include "sim/kernel/serial_core/machine_link.h"

namespace sim::kernel {

namespace {

void init_wait_queue(wait_queue_head_t& queue) {
    spin_lock_init(&queue.lock);
    INIT_LIST_HEAD(&queue.task_list);
    queue.wake_count = 0;
}

// "ttyS<n>" or "/dev/ttyS<n>": the device number n, or nullopt for anything else.
std::optional<int> parse_ttys_name(std::string_view device) {
    if (device.starts_with("/dev/")) device.remove_prefix(5);
    if (!device.starts_with("ttyS")) return std::nullopt;
    device.remove_prefix(4);
    if (device.empty() || device.size() > 3) return std::nullopt;
    if (!std::all_of(device.begin(), device.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(device.data(), device.data() + device.size(), number);
    if (error != std::errc{} || end != device.data() + device.size()) return std::nullopt;
    if (device.size() > 1 && device.front() == '0') return std::nullopt;
    return number;
}

}  // namespace

ktermios default_serial_termios() {
    ktermios settings{};
    settings.c_iflag = ICRNL | IXON;
    settings.c_oflag = OPOST | ONLCR;
    settings.c_cflag = B9600 | CS8 | CREAD | HUPCL | CLOCAL;
    settings.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | echoctl_flag | echoke_flag | IEXTEN;
    settings.c_line = 0;
    // ^C ^\ DEL ^U ^D, VTIME 0, VMIN 1, -, ^Q ^S ^Z, -, ^R ^O ^W ^V, -
    constexpr cc_t control[kernel_nccs] = {3, 28, 127, 21, 4, 0, 1, 0, 17, 19,
                                           26, 0, 18, 15, 23, 22, 0, 0, 0};
    std::copy(std::begin(control), std::end(control), settings.c_cc);
    return settings;
}

KernelResult<FileHandle> SerialCore::open(std::string_view device, OpenMode mode,
                                          MachineDuration limit) {
    run_deferred_work();
    const auto number = parse_ttys_name(device);
    if (!number) return kernel_error(-kerr::noent);
    if (*number >= ttys_minor_count) return kernel_error(-kerr::nodev);
    const int minor = ttys_first_minor + *number;

    const auto covering = [this, minor]() -> DriverState* {
        DriverState* state = find_driver_by_major(ttys_major);
        if (state == nullptr) return nullptr;
        const int first = state->record->minor;
        if (minor < first || minor >= first + state->record->nr) return nullptr;
        return state;
    };
    DriverState* driver = covering();
    if (driver == nullptr && find_driver_by_major(ttys_major) == nullptr) {
        // Nobody drives character major 4 yet: the module that claims its alias may.
        link::request_module(machine_, fmt::format("char-major-{}-{}", ttys_major, minor));
        driver = covering();
    }
    if (driver == nullptr) return kernel_error(-kerr::nodev);
    Line& line = *driver->lines[static_cast<std::size_t>(minor - driver->record->minor)];
    if (line.port == nullptr) return kernel_error(-kerr::nxio);
    uart_port* port = line.port;
    const ::module* owner = driver->record->owner;
    if (!link::module_get(machine_, owner)) return kernel_error(-kerr::nodev);

    if (line.open_count == 0) {
        line.tty = std::make_shared<Tty>(static_cast<int>(line.index));
        line.tty->raw()->driver_data = &line;
        line.tty->set_hooks(TtyHooks{
            .throttle = [this, &line] { throttle(line); },
            .unthrottle = [this, &line] { unthrottle(line); },
            .hangup = [&line] { line.hangup_pending = true; },
            .secure_attention = {},
        });
        line.state = core_port_state{};
        line.state.tty = line.tty->raw();
        line.state.transmit_ring.buf = line.ring.data();
        init_wait_queue(line.state.open_wait);
        init_wait_queue(line.state.modem_change_wait);
        init_wait_queue(line.write_wait);
        port->core_state = &line.state;
        line.active = true;
        line.open_count = 1;
        change_pm(line, pm_full_power);
        const int error = startup(line, true);
        if (error != 0) {
            line.open_count = 0;
            line.active = false;
            release_tty(line);
            change_pm(line, pm_off);
            link::module_put(machine_, owner);
            return kernel_error(error);
        }
    } else {
        ++line.open_count;
    }

    auto file = std::make_unique<OpenFile>();
    file->line = &line;
    file->tty = line.tty;
    file->owner = owner;
    file->nonblocking = mode == OpenMode::nonblocking;
    OpenFile& opened = *file;
    const FileHandle handle{next_file_id_++};
    files_.emplace(handle.id, std::move(file));

    if (!opened.nonblocking && !line.io_error && !(line.termios.c_cflag & CLOCAL)) {
        const int error = wait_for_carrier(line, opened, limit);
        if (error != 0) {
            close(handle);
            return kernel_error(error);
        }
    }
    return handle;
}

int SerialCore::wait_for_carrier(Line& line, OpenFile& file, MachineDuration limit) {
    uart_port* port = line.port;
    if (line.termios.c_cflag & CBAUD) update_mctrl(line, TIOCM_DTR | TIOCM_RTS, 0);
    const auto carrier = [&] {
        PortLockGuard guard(port);
        return (driver::get_mctrl(port) & TIOCM_CAR) != 0;
    };
    const auto start = link::now(machine_);
    while (true) {
        if (file.hung_up || !line.active) return -kerr::again;
        if (carrier()) return 0;
        const MachineDuration spent = link::now(machine_) - start;
        if (spent >= limit) return -kerr::intr;
        const unsigned long seen = line.state.open_wait.wake_count;
        run_until([&] { return line.state.open_wait.wake_count != seen || line.hangup_pending; },
                  limit - spent);
        run_deferred_work();
    }
}

int SerialCore::close(FileHandle handle, MachineDuration limit) {
    run_deferred_work();
    auto found = files_.find(handle.id);
    if (found == files_.end()) return -bad_file_errno;
    std::unique_ptr<OpenFile> file = std::move(found->second);
    files_.erase(found);
    // The module reference goes last, whatever path the close takes.
    struct ModuleReference {
        Machine& machine;
        const ::module* owner;
        ~ModuleReference() { link::module_put(machine, owner); }
    } reference{machine_, file->owner};
    if (file->hung_up || file->line == nullptr) return 0;
    Line& line = *file->line;
    if (line.open_count > 1) {
        --line.open_count;
        return 0;
    }

    uart_port* port = line.port;
    if (line.settings.closing_wait_ms != closing_wait_none && line.initialized) {
        MachineDuration wait = limit;
        if (line.settings.closing_wait_ms != 0)
            wait = std::min(wait, MachineDuration(std::chrono::milliseconds(
                                      line.settings.closing_wait_ms)));
        wait_until_sent(line, wait);
    }
    if (line.initialized) {
        // Stop taking input, then let the transmitter finish before the lines drop.
        {
            PortLockGuard guard(port);
            driver::stop_rx(port);
        }
        wait_transmitter_empty(line, port->fifo_timeout);
    }
    shutdown(line);
    {
        PortLockGuard guard(port);
        line.state.transmit_ring.head = line.state.transmit_ring.tail = 0;
    }
    line.open_count = 0;
    line.active = false;
    release_tty(line);
    change_pm(line, pm_off);
    __wake_up(&line.state.open_wait, TASK_INTERRUPTIBLE, 1, nullptr);
    return 0;
}

int SerialCore::startup(Line& line, bool apply_settings) {
    if (line.initialized) return 0;
    uart_port* port = line.port;
    line.io_error = true;
    if (port->uart_type == 0) return 0;
    line.state.transmit_ring.head = line.state.transmit_ring.tail = 0;
    // The flow flags are set before startup, which may wait for the flow input they name.
    update_flow_flags(line);
    const int error = driver::startup(port);
    if (error != 0) return error;
    line.initialized = true;
    if (apply_settings) {
        change_speed(line, nullptr);
        if (line.termios.c_cflag & CBAUD) update_mctrl(line, TIOCM_RTS | TIOCM_DTR, 0);
    }
    if (line.state.flags & (state_cts_flow | state_dsr_flow)) {
        PortLockGuard guard(port);
        const unsigned int lines = driver::get_mctrl(port);
        const bool cts_missing = (line.state.flags & state_cts_flow) && !(lines & TIOCM_CTS);
        const bool dsr_missing = (line.state.flags & state_dsr_flow) && !(lines & TIOCM_DSR);
        if (cts_missing || dsr_missing) line.tty->raw()->stopped_bits |= modem_stopped;
    }
    line.io_error = false;
    return 0;
}

void SerialCore::shutdown(Line& line) {
    if (!line.initialized) return;
    uart_port* port = line.port;
    // DTR and RTS drop first, so that the other end sees the hang-up before the port goes.
    if (line.tty == nullptr || (line.termios.c_cflag & HUPCL))
        update_mctrl(line, 0, TIOCM_DTR | TIOCM_RTS);
    __wake_up(&line.state.modem_change_wait, TASK_INTERRUPTIBLE, 1, nullptr);
    driver::shutdown(port);
    line.initialized = false;
    line.io_error = true;
}

void SerialCore::release_tty(Line& line) {
    if (line.port != nullptr) line.port->core_state = nullptr;
    line.state.tty = nullptr;
    if (line.tty != nullptr) {
        line.tty->set_hooks({});
        line.tty->raw()->driver_data = nullptr;
        line.tty.reset();
    }
}

void SerialCore::hang_up(Line& line) {
    if (!line.active) return;
    uart_port* port = line.port;
    {
        PortLockGuard guard(port);
        line.state.transmit_ring.head = line.state.transmit_ring.tail = 0;
    }
    shutdown(line);
    for (auto& [id, file] : files_)
        if (file->line == &line) file->hung_up = true;
    line.open_count = 0;
    line.active = false;
    __wake_up(&line.state.open_wait, TASK_INTERRUPTIBLE, 1, nullptr);
    __wake_up(&line.state.modem_change_wait, TASK_INTERRUPTIBLE, 1, nullptr);
    release_tty(line);
}

void SerialCore::run_deferred_work() {
    for (auto& driver : drivers_) {
        for (auto& line : driver->lines) {
            if (!line->hangup_pending) continue;
            line->hangup_pending = false;
            if (line->port != nullptr) hang_up(*line);
        }
    }
}

}  // namespace sim::kernel
