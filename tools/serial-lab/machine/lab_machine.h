// One simulated machine as the lab runs it: the kernel substitute with its clock, the hardware
// the user placed, the ttyS files the lab holds open, and the board devices it put on the
// platform bus. Torn down in the order a machine powers off: files closed, module unloaded,
// board devices removed, hardware unplugged.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/8250/8250.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/serial_core.h"
#include "tools/serial-lab/machine/hardware.h"
#include "tools/serial-lab/status.h"

namespace lab {

enum class MachinePreset { pc, bare };
std::optional<MachinePreset> machine_preset_from_name(std::string_view name);
std::string_view machine_preset_name(MachinePreset preset);

struct LabBoardDevice {
    std::string bus_id;  // "serial8250.0"
    platform_device* device = nullptr;
    std::vector<platform_port_entry> entries;  // without the closing entry
    std::vector<std::string> described_as;     // the words that described each entry
    std::vector<void*> windows;                // register windows mapped for the entries
};

class LabMachine {
public:
    LabMachine(MachinePreset preset, unsigned hz);
    ~LabMachine();
    LabMachine(const LabMachine&) = delete;
    LabMachine& operator=(const LabMachine&) = delete;

    MachinePreset preset() const { return preset_; }
    sim::kernel::Machine& kernel() { return kernel_; }
    sim::kernel::SerialCore& serial_core() { return kernel_.subsystem<sim::kernel::SerialCore>(); }
    Hardware& hardware() { return hardware_; }

    // ttyS files the lab holds open, by line.
    std::optional<sim::kernel::FileHandle> open_file(unsigned line) const;
    void remember_open(unsigned line, sim::kernel::FileHandle file) { open_files_[line] = file; }
    void forget_open(unsigned line) { open_files_.erase(line); }
    const std::map<unsigned, sim::kernel::FileHandle>& open_files() const { return open_files_; }

    std::vector<LabBoardDevice>& board_devices() { return board_devices_; }

    // The port the serial core has at a ttyS line, or null.
    uart_port* port(unsigned line);
    // The chip behind a port, if the user placed one at its address.
    PlacedChip* chip_of(const uart_port& port);

private:
    MachinePreset preset_;
    sim::kernel::Machine kernel_;
    Hardware hardware_;
    std::map<unsigned, sim::kernel::FileHandle> open_files_;
    std::vector<LabBoardDevice> board_devices_;
};

}  // namespace lab
