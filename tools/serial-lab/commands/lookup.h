// Finding what a command's words name: ttyS devices, open files, chips.
#pragma once

#include <string_view>

#include <fmt/format.h>

#include "sim/kernel/serial_core/serial_core.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/status.h"

namespace lab {

inline constexpr unsigned lab_tty_lines = 32;

// "ttyS3" or "/dev/ttyS3" -> 3.
Expected<unsigned> parse_tty(std::string_view name);
bool looks_like_tty(std::string_view name);
// The file the lab holds open on a ttyS; an error telling how to open it otherwise.
Expected<sim::kernel::FileHandle> open_file_of(Lab& lab, std::string_view name);
// A chip by its name, or the chip behind a ttyS port.
Expected<PlacedChip*> find_chip(Lab& lab, std::string_view name);

// Runs `action` on the ttyS's open file, or, like stty and setserial on a device nobody holds
// open, opens it for the call and closes it again.
template <typename Action>
Status with_file(Lab& lab, unsigned line, Action&& action) {
    auto& core = lab.machine().serial_core();
    if (auto held = lab.machine().open_file(line)) return action(*held);
    auto opened = core.open(fmt::format("ttyS{}", line), sim::kernel::OpenMode::nonblocking);
    if (!opened) return kernel_refused(fmt::format("cannot open ttyS{}", line), opened.error());
    Status status = action(*opened);
    core.close(*opened);
    return status;
}

}  // namespace lab
