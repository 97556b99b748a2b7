#include "sim/hw/board/io_claim.h"

#include "sim/hw/logging.h"

namespace sim::hw {

IoClaim::IoClaim(Bus& bus, std::uint32_t base, std::uint32_t length, IoDevice& device, std::string name)
    : bus_(bus), id_(ClaimId::none) {
    const auto claim = bus.claim_io(base, length, device, name);
    if (!claim) fatal("I/O ports {:#x}-{:#x} for {} are not free", base, base + length - 1, name);
    id_ = *claim;
}

IoClaim::IoClaim(Bus& bus, std::uint64_t base, std::uint64_t length, MemoryDevice& device, std::string name)
    : bus_(bus), id_(ClaimId::none) {
    const auto claim = bus.claim_memory(base, length, device, name);
    if (!claim) fatal("memory {:#x}-{:#x} for {} is not free", base, base + length - 1, name);
    id_ = *claim;
}

IoClaim::~IoClaim() { bus_.release(id_); }

}  // namespace sim::hw
