// What the serial core needs from the rest of the machine, in one place: the tick rate, running
// machine time while a process waits, the virtual files, the module loader and fault injection.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

struct module;

namespace sim::kernel {

class Machine;
class SerialCore;

namespace link {

unsigned int hz(const Machine& machine);
// Runs the machine until `done` holds or `limit` of machine time has passed; true if done.
bool run_until(Machine& machine, const std::function<bool()>& done,
               std::chrono::nanoseconds limit);
void run_for(Machine& machine, std::chrono::nanoseconds duration);
// Machine time since the machine started.
std::chrono::nanoseconds now(const Machine& machine);
void add_virtual_file(Machine& machine, const std::string& path,
                      std::function<std::string()> reader);
void remove_virtual_file(Machine& machine, const std::string& path);
// The error uart_add_one_port is to fail with, when a test asked for it.
std::optional<int> injected_add_fault(Machine& machine);
// The error uart_register_driver is to fail with (an allocation fault), when a test asked.
std::optional<int> injected_allocation_fault(Machine& machine);
// A reference on the module that owns a driver, held while a file of it is open, so that the
// module cannot be unloaded under it. False when the module is going away. Null: built in.
bool module_get(Machine& machine, const ::module* owner);
void module_put(Machine& machine, const ::module* owner);
// Asks the module loader for a module by alias ("char-major-4-64"); its result is not needed:
// the caller looks again for what it wanted.
void request_module(Machine& machine, const std::string& alias);
// The serial core of the machine the current kernel call runs on.
SerialCore& current_serial_core();

}  // namespace link
}  // namespace sim::kernel
