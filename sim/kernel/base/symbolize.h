// Naming addresses for messages: "serial8250_ports+0x40 [8250.ko]" when a dynamic symbol covers
// the address, the bare address otherwise.
#pragma once

#include <string>

namespace sim::kernel {

std::string describe_address(const void* address);

// The dynamic symbol that contains `address`, with the address's offset into it; empty name
// when none does. A symbol whose size is known must really contain the address.
struct SymbolHit {
    std::string name;
    std::size_t offset = 0;
    std::string object;  // file name of the object, without its directory
};
SymbolHit symbol_at(const void* address);

}  // namespace sim::kernel
