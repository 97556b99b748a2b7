// Board devices as platform start-up code places them: a platform device "serial8250" whose
// platform data is an array of port entries, closed by an entry whose port flags are 0.
#pragma once

#include <span>

#include "drivers/serial/8250/8250.h"

namespace sim::kernel {

class Machine;

struct BoardDevice {
    platform_device* device = nullptr;
    int error = 0;  // 0, or why the device could not be placed
    explicit operator bool() const { return device != nullptr; }
};

// Places the device with instance `id` (-1 for none) carrying a copy of `ports`; a matching
// registered driver probes it at once. Entries with port flags 0 inside `ports` end the array
// early, as they would for the driver.
BoardDevice add_serial8250_board(Machine& machine, int id, std::span<const platform_port_entry> ports);
// Takes a board device off the bus (the bound driver's remove runs) and frees it.
void remove_board_device(Machine& machine, platform_device* device);

}  // namespace sim::kernel
