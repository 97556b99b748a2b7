// The serial core's private records: one per registered driver, one per line of it, one per
// open file. Only the serial core's own sources include this.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/kernel/serial_core/serial_core.h"
#include "sim/kernel/tty/tty.h"

namespace sim::kernel {

struct SerialCore::Line {
    DriverState* driver = nullptr;
    unsigned int index = 0;  // line number within the driver
    uart_port* port = nullptr;  // the port added here, null when none

    // What the port's core_state points to while the line is open.
    core_port_state state{};
    std::array<unsigned char, uart_xmit_size> ring{};
    wait_queue_head_t write_wait{};
    unsigned long write_wakeups = 0;

    std::shared_ptr<Tty> tty;  // the tty of the current open session; open files share it
    ktermios termios{};        // kept across opens
    ktermios termios_before_open{};  // for TIOCSSERIAL restarts
    LineSettings settings;
    std::uint32_t custom_divisor = 0;

    unsigned int open_count = 0;
    bool active = false;          // open and not hung up
    bool initialized = false;     // started up and not shut down
    bool io_error = false;        // the tty refuses I/O: the port has no known type
    bool suspended = false;
    bool suspended_while_open = false;
    bool hangup_pending = false;  // a driver asked for a hang-up; carried out in process context
    std::optional<unsigned int> pm_state;
};

struct SerialCore::DriverState {
    uart_driver* record = nullptr;
    std::string proc_path;
    std::vector<std::unique_ptr<Line>> lines;
};

struct SerialCore::OpenFile {
    Line* line = nullptr;  // null once the driver that owned the line is gone
    const ::module* owner = nullptr;  // the driver's module, referenced while the file is open
    std::shared_ptr<Tty> tty;
    bool nonblocking = false;
    bool hung_up = false;
};

// Values of a customary tty: the serial core's settings for a line never opened before.
ktermios default_serial_termios();

inline constexpr tcflag_t echoctl_flag = 0x0200;
inline constexpr tcflag_t echoke_flag = 0x0800;

// EBADF is not among the kernel's error numbers a driver uses, but a process can get it.
inline constexpr int bad_file_errno = 9;

inline constexpr unsigned int wakeup_chars = 256;  // writers are woken below this many bytes
inline constexpr int ttys_major = 4;
inline constexpr int ttys_first_minor = 64;
inline constexpr int ttys_minor_count = 192;  // ttyS0 .. ttyS191 on major 4
inline constexpr unsigned int pm_full_power = 0;
inline constexpr unsigned int pm_off = 3;

}  // namespace sim::kernel
