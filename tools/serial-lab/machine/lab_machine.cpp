#include "tools/serial-lab/machine/lab_machine.h"

#include <chrono>

#include "sim/hw/logging.h"
#include "sim/kernel/platform/board_devices.h"

namespace lab {
namespace {

sim::kernel::MachineSettings settings_for(unsigned hz) {
    sim::kernel::MachineSettings settings;
    settings.hz = hz;
    return settings;
}

// The legacy PC: the usual COM1 and COM2, each a 16550A on its own card, with OUT2 gating the
// interrupt onto its ISA line. Nothing answers at 0x3e8 and 0x2e8.
void place_pc(Hardware& hardware) {
    for (const auto& [name, base, line] : {std::tuple{"com1", 0x3f8u, 4u}, std::tuple{"com2", 0x2f8u, 3u}}) {
        BoardRequest request;
        request.kind = BoardKind::pc;
        request.name = name;
        request.chip_names = {name};
        request.models = {"16550a"};
        request.base = base;
        request.wiring = sim::hw::InterruptWiring::edge(line);
        if (auto placed = hardware.add_board(request); !placed) {
            sim::hw::panic("the legacy PC cannot be built: {}", placed.error().message);
        }
    }
}

}  // namespace

std::optional<MachinePreset> machine_preset_from_name(std::string_view name) {
    if (name == "pc") return MachinePreset::pc;
    if (name == "bare") return MachinePreset::bare;
    return std::nullopt;
}

std::string_view machine_preset_name(MachinePreset preset) {
    return preset == MachinePreset::pc ? "pc" : "bare";
}

LabMachine::LabMachine(MachinePreset preset, unsigned hz)
    : preset_(preset),
      kernel_(settings_for(hz)),
      hardware_(kernel_.events(), kernel_.bus(), kernel_.interrupt_controller()) {
    if (preset == MachinePreset::pc) place_pc(hardware_);
}

LabMachine::~LabMachine() {
    sim::kernel::MachineScope scope(kernel_);
    if (auto* core = kernel_.find_subsystem<sim::kernel::SerialCore>()) {
        for (const auto& [line, file] : open_files_) core->close(file, std::chrono::seconds(1));
    }
    open_files_.clear();
    kernel_.modules().unload_all();
    for (auto& device : board_devices_) {
        sim::kernel::remove_board_device(kernel_, device.device);
        for (void* window : device.windows) kernel_.mappings().unmap(window);
    }
    board_devices_.clear();
}

std::optional<sim::kernel::FileHandle> LabMachine::open_file(unsigned line) const {
    const auto found = open_files_.find(line);
    if (found == open_files_.end()) return std::nullopt;
    return found->second;
}

uart_port* LabMachine::port(unsigned line) {
    auto* core = kernel_.find_subsystem<sim::kernel::SerialCore>();
    return core == nullptr ? nullptr : core->port_at(line);
}

PlacedChip* LabMachine::chip_of(const uart_port& port) {
    ChipAddress address;
    switch (port.access_kind) {
        case access_hub6:
            address.access = RegisterAccess::hub6;
            address.base = port.io_base;
            address.hub6_index = port.hub6_index;
            break;
        case access_mem8:
        case access_mem32:
        case access_mem8_quirk:
            address.access = RegisterAccess::mem8;
            address.base = port.reg_window_phys;
            break;
        default:
            address.base = port.io_base;
            break;
    }
    return hardware_.chip_at(address);
}

}  // namespace lab
