// Each area of the lab adds its commands to the registry.
#pragma once

#include "tools/serial-lab/command_registry.h"

namespace lab {

void add_lab_commands(CommandRegistry& registry);
void add_module_commands(CommandRegistry& registry);
void add_hardware_commands(CommandRegistry& registry);
void add_tty_commands(CommandRegistry& registry);
void add_time_commands(CommandRegistry& registry);
void add_insight_commands(CommandRegistry& registry);
void add_bus_commands(CommandRegistry& registry);

}  // namespace lab
