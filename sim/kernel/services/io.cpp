// Processor I/O: port accesses go to the machine's I/O space, memory accesses through the
// windows __ioremap handed out.
#include "drivers/serial/kernel/io.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"
#include "sim/kernel/machine.h"

using sim::kernel::Machine;

namespace {

std::uint64_t physical_of(Machine& machine, const volatile void* address, unsigned width,
                          const char* service, const void* caller) {
    const auto physical = machine.mappings().physical(address, width);
    if (!physical) {
        sim::kernel::stop_machine(fmt::format(
            "{} at {}, which no __ioremap window covers; called from {}", service,
            const_cast<const void*>(address), sim::kernel::describe_address(caller)));
    }
    return *physical;
}

}  // namespace

extern "C" std::uint8_t inb(std::uint16_t port) { return Machine::current().bus().inb(port); }

extern "C" void outb(std::uint8_t value, std::uint16_t port) {
    Machine::current().bus().outb(port, value);
}

extern "C" std::uint8_t inb_p(std::uint16_t port) {
    Machine& machine = Machine::current();
    const std::uint8_t value = machine.bus().inb(port);
    machine.bus().outb(io_pause_port, 0);
    return value;
}

extern "C" void outb_p(std::uint8_t value, std::uint16_t port) {
    Machine& machine = Machine::current();
    machine.bus().outb(port, value);
    machine.bus().outb(io_pause_port, 0);
}

extern "C" std::uint8_t readb(const volatile void* address) {
    Machine& machine = Machine::current();
    const auto physical = physical_of(machine, address, 1, "readb", __builtin_return_address(0));
    return static_cast<std::uint8_t>(machine.bus().read_memory(physical, 1));
}

extern "C" void writeb(std::uint8_t value, volatile void* address) {
    Machine& machine = Machine::current();
    const auto physical = physical_of(machine, address, 1, "writeb", __builtin_return_address(0));
    machine.bus().write_memory(physical, 1, value);
}

extern "C" std::uint32_t readl(const volatile void* address) {
    Machine& machine = Machine::current();
    const auto physical = physical_of(machine, address, 4, "readl", __builtin_return_address(0));
    return machine.bus().read_memory(physical, 4);
}

extern "C" void writel(std::uint32_t value, volatile void* address) {
    Machine& machine = Machine::current();
    const auto physical = physical_of(machine, address, 4, "writel", __builtin_return_address(0));
    machine.bus().write_memory(physical, 4, value);
}
