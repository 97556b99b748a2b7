// Resource trees and register-window mapping.
#include "drivers/serial/kernel/ioport.h"

#include <fmt/format.h>

#include "sim/kernel/machine.h"

using sim::kernel::Machine;

// The global roots mirror the current machine's trees; requests name them as the parent.
extern "C" {
resource ioport_resource{0, 0xffff, "PCI IO", IORESOURCE_IO, nullptr, nullptr, nullptr};
resource iomem_resource{0, ~std::uint64_t{0}, "PCI mem", IORESOURCE_MEM, nullptr, nullptr, nullptr};
}

namespace {

// The tree a parent belongs to, and the parent as that tree knows it.
sim::kernel::ResourceTree* tree_of(Machine& machine, resource*& parent) {
    if (parent == &ioport_resource) {
        parent = machine.ioports().root();
        return &machine.ioports();
    }
    if (parent == &iomem_resource) {
        parent = machine.iomem().root();
        return &machine.iomem();
    }
    if (machine.ioports().contains(parent)) return &machine.ioports();
    if (machine.iomem().contains(parent)) return &machine.iomem();
    return nullptr;
}

}  // namespace

extern "C" resource* __request_region(resource* parent, std::uint64_t start, std::uint64_t n,
                                      const char* name) {
    Machine& machine = Machine::current();
    sim::kernel::ResourceTree* tree = tree_of(machine, parent);
    if (tree == nullptr) return nullptr;
    if (machine.faults().check(sim::kernel::FaultPoint::request_region)) return nullptr;
    return tree->request_region(parent, start, n, name != nullptr ? name : "<BAD>");
}

extern "C" void __release_region(resource* parent, std::uint64_t start, std::uint64_t n) {
    Machine& machine = Machine::current();
    sim::kernel::ResourceTree* tree = tree_of(machine, parent);
    if (tree == nullptr || !tree->release_region(parent, start, n)) {
        machine.log().write(fmt::format("<4>Trying to free nonexistent resource <{:08x}-{:08x}>\n",
                                        start, start + n - 1));
    }
}

extern "C" void* __ioremap(std::uint64_t phys_addr, unsigned long size, unsigned long) {
    Machine& machine = Machine::current();
    if (machine.faults().check(sim::kernel::FaultPoint::ioremap)) return nullptr;
    return machine.mappings().map(phys_addr, size);
}

extern "C" void iounmap(volatile void* address) {
    Machine& machine = Machine::current();
    if (address == nullptr) return;
    if (!machine.mappings().unmap(address)) {
        machine.log().write(fmt::format("<3>iounmap: bad address {}\n",
                                        const_cast<const void*>(address)));
    }
}
