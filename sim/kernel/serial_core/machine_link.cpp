#include "sim/kernel/serial_core/machine_link.h"

#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/serial_core.h"

namespace sim::kernel::link {

unsigned int hz(const Machine& machine) { return machine.hz(); }

bool run_until(Machine& machine, const std::function<bool()>& done,
               std::chrono::nanoseconds limit) {
    return machine.run_until(done, limit);
}

void run_for(Machine& machine, std::chrono::nanoseconds duration) { machine.run_for(duration); }

std::chrono::nanoseconds now(const Machine& machine) {
    return machine.now().time_since_epoch();
}

void add_virtual_file(Machine& machine, const std::string& path,
                      std::function<std::string()> reader) {
    machine.files().add(path, std::move(reader), {}, 0444);
}

void remove_virtual_file(Machine& machine, const std::string& path) {
    machine.files().remove(path);
}

std::optional<int> injected_add_fault(Machine& machine) {
    return machine.faults().check(FaultPoint::uart_add_one_port);
}

std::optional<int> injected_allocation_fault(Machine& machine) {
    return machine.faults().check(FaultPoint::allocation);
}

bool module_get(Machine& machine, const ::module* owner) {
    return machine.modules().try_get(owner);
}

void module_put(Machine& machine, const ::module* owner) { machine.modules().put(owner); }

void request_module(Machine& machine, const std::string& alias) {
    machine.modules().request_module(alias);
}

SerialCore& current_serial_core() { return Machine::current().subsystem<SerialCore>(); }

}  // namespace sim::kernel::link
