#include "tools/serial-lab/lab.h"

#include <fmt/format.h>

#include "tools/serial-lab/commands/commands.h"

namespace lab {

inline constexpr unsigned default_hz = 250;

Lab::Lab(Console& console) : console_(console), machine_(std::make_unique<LabMachine>(MachinePreset::pc, default_hz)) {
    add_module_commands(commands_);
    add_hardware_commands(commands_);
    add_tty_commands(commands_);
    add_time_commands(commands_);
    add_insight_commands(commands_);
    add_bus_commands(commands_);
    add_lab_commands(commands_);
}

Lab::~Lab() = default;

void Lab::replace_machine(MachinePreset preset, unsigned hz) {
    // The old machine goes first: a machine hands the kernel back to the one before it.
    machine_.reset();
    machine_ = std::make_unique<LabMachine>(preset, hz);
}

std::filesystem::path Lab::resolve_path(const std::string& name) const {
    const std::filesystem::path path(name);
    if (path.is_absolute() || script_folder_.empty()) return path;
    return script_folder_ / path;
}

std::vector<std::string> Lab::device_names() const {
    std::vector<std::string> names;
    for (int line = 0; line < 32; ++line) names.push_back(fmt::format("ttyS{}", line));
    for (auto& name : machine_->hardware().names()) names.push_back(std::move(name));
    return names;
}

}  // namespace lab
