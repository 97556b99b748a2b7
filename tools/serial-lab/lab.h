// The lab: one simulated machine, the commands that work on it, and where output goes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/serial-lab/command_registry.h"
#include "tools/serial-lab/console.h"
#include "tools/serial-lab/machine/lab_machine.h"

namespace lab {

class Lab {
public:
    // Starts with the default machine, a legacy PC.
    explicit Lab(Console& console);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    Console& console() { return console_; }
    const CommandRegistry& commands() const { return commands_; }

    LabMachine& machine() { return *machine_; }
    // Powers the current machine off and builds a new one.
    void replace_machine(MachinePreset preset, unsigned hz);

    bool quit_requested() const { return quit_requested_; }
    void request_quit() { quit_requested_ = true; }

    // Relative file names in a script are taken from the script's folder, so that a script
    // runs the same from anywhere; at the prompt and in -c they are taken from the current one.
    std::filesystem::path resolve_path(const std::string& name) const;
    void set_script_folder(std::filesystem::path folder) { script_folder_ = std::move(folder); }
    const std::filesystem::path& script_folder() const { return script_folder_; }

    // Names a user may type where a device is expected (ttyS0.., chip names), for completion.
    std::vector<std::string> device_names() const;

private:
    Console& console_;
    CommandRegistry commands_;
    std::unique_ptr<LabMachine> machine_;
    std::filesystem::path script_folder_;
    bool quit_requested_ = false;
};

}  // namespace lab
