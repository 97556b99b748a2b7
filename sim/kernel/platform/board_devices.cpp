#include "sim/kernel/platform/board_devices.h"

#include <vector>

#include "sim/kernel/machine.h"

namespace sim::kernel {

BoardDevice add_serial8250_board(Machine& machine, int id,
                                 std::span<const platform_port_entry> ports) {
    PlatformBus& bus = machine.platform();
    platform_device* device = bus.alloc("serial8250", id);
    if (device == nullptr) return BoardDevice{nullptr, -kerr::nomem};
    std::vector<platform_port_entry> entries(ports.begin(), ports.end());
    entries.push_back(platform_port_entry{});
    if (const int error = bus.add_data(device, entries.data(),
                                       entries.size() * sizeof(platform_port_entry));
        error != 0) {
        bus.put(device, nullptr);
        return BoardDevice{nullptr, error};
    }
    if (const int error = bus.add(device, nullptr); error != 0) {
        bus.put(device, nullptr);
        return BoardDevice{nullptr, error};
    }
    return BoardDevice{device, 0};
}

void remove_board_device(Machine& machine, platform_device* device) {
    machine.platform().del(device, nullptr);
    machine.platform().put(device, nullptr);
}

}  // namespace sim::kernel
