// A bus claim held for a board's lifetime.
#pragma once

#include <cstdint>
#include <string>

#include "sim/hw/bus.h"

namespace sim::hw {

class IoClaim {
public:
    // A range that is already taken is the user's configuration mistake (fatal).
    IoClaim(Bus& bus, std::uint32_t base, std::uint32_t length, IoDevice& device, std::string name);
    IoClaim(Bus& bus, std::uint64_t base, std::uint64_t length, MemoryDevice& device, std::string name);
    ~IoClaim();
    IoClaim(const IoClaim&) = delete;
    IoClaim& operator=(const IoClaim&) = delete;

private:
    Bus& bus_;
    ClaimId id_;
};

}  // namespace sim::hw
