// Resource trees of I/O ports and physical memory, and register-window mapping.
#pragma once

#include <cstdint>

struct resource {
    std::uint64_t start;
    std::uint64_t end;  // inclusive
    const char* name;
    unsigned long flags;
    resource* parent;
    resource* sibling;
    resource* child;
};

inline constexpr unsigned long IORESOURCE_IO = 0x00000100;
inline constexpr unsigned long IORESOURCE_MEM = 0x00000200;
inline constexpr unsigned long IORESOURCE_BUSY = 0x80000000;

extern "C" {
extern resource ioport_resource;
extern resource iomem_resource;

// Claims [start, start + n) below `parent` under `name`; null if any part is already claimed.
resource* __request_region(resource* parent, std::uint64_t start, std::uint64_t n,
                           const char* name);
void __release_region(resource* parent, std::uint64_t start, std::uint64_t n);

// Maps `size` bytes of physical address space; null if it cannot be mapped.
void* __ioremap(std::uint64_t phys_addr, unsigned long size, unsigned long flags);
void iounmap(volatile void* address);
}
