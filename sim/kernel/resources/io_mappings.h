// Register windows handed out by __ioremap. Each mapping reserves host address space that cannot
// be touched (PROT_NONE), so a driver that dereferences a window instead of using the memory
// primitives faults at once; readb/writeb/readl/writel translate the address back to the
// physical address on the bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace sim::kernel {

struct IoMapping {
    std::uintptr_t reserved_base;  // page-aligned start of the reservation
    std::size_t reserved_length;
    std::uintptr_t address;        // what __ioremap returned
    std::uint64_t physical;
    std::size_t length;
};

class IoMappings {
public:
    IoMappings() = default;
    IoMappings(const IoMappings&) = delete;
    IoMappings& operator=(const IoMappings&) = delete;
    ~IoMappings();

    // Null when `length` is 0, the range wraps, or no address space is left.
    void* map(std::uint64_t physical, std::size_t length);
    // False when `address` is not the start of a live mapping.
    bool unmap(const volatile void* address);
    // The physical address of an access of `width` bytes at `address`, if a mapping covers it.
    std::optional<std::uint64_t> physical(const volatile void* address, unsigned width) const;
    std::size_t count() const { return mappings_.size(); }
    const std::map<std::uintptr_t, IoMapping>& mappings() const { return mappings_; }

private:
    std::map<std::uintptr_t, IoMapping> mappings_;  // by returned address
};

}  // namespace sim::kernel
