#include "sim/hw/bus.h"

#include <algorithm>

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

constexpr std::uint32_t io_space_size = 0x10000;

void check_width(unsigned width) {
    if (width != 1 && width != 4) panic("memory access of width {} (only 1 and 4 exist)", width);
}

std::uint32_t all_ones(unsigned width) { return width == 1 ? 0xffu : 0xffffffffu; }

}  // namespace

Bus::Bus(EventQueue& events) : events_(events), io_owner_(io_space_size, 0) {}

std::optional<ClaimId> Bus::claim_io(std::uint32_t base, std::uint32_t length, IoDevice& device,
                                     std::string name) {
    if (length == 0 || base >= io_space_size || length > io_space_size - base) return std::nullopt;
    for (std::uint32_t port = base; port < base + length; ++port) {
        if (io_owner_[port] != 0) return std::nullopt;
    }
    claims_.push_back(Claim{AccessKind::io_read, base, length, &device, nullptr, std::move(name), true});
    const auto id = static_cast<std::uint32_t>(claims_.size());
    std::fill(io_owner_.begin() + base, io_owner_.begin() + base + length, id);
    return static_cast<ClaimId>(id);
}

std::optional<ClaimId> Bus::claim_memory(std::uint64_t base, std::uint64_t length,
                                         MemoryDevice& device, std::string name) {
    if (length == 0 || base + length - 1 < base) return std::nullopt;
    const std::uint64_t last = base + length - 1;
    for (std::uint32_t index : memory_order_) {
        const Claim& other = claims_[index];
        if (base <= other.base + other.length - 1 && other.base <= last) return std::nullopt;
    }
    claims_.push_back(Claim{AccessKind::mem_read, base, length, nullptr, &device, std::move(name), true});
    const auto index = static_cast<std::uint32_t>(claims_.size() - 1);
    const auto at = std::upper_bound(memory_order_.begin(), memory_order_.end(), base,
                                     [this](std::uint64_t b, std::uint32_t i) { return b < claims_[i].base; });
    memory_order_.insert(at, index);
    return static_cast<ClaimId>(index + 1);
}

void Bus::release(ClaimId claim) {
    const auto id = static_cast<std::uint32_t>(claim);
    if (id == 0 || id > claims_.size() || !claims_[id - 1].live) return;
    Claim& c = claims_[id - 1];
    c.live = false;
    if (c.space == AccessKind::io_read) {
        std::fill(io_owner_.begin() + static_cast<std::ptrdiff_t>(c.base),
                  io_owner_.begin() + static_cast<std::ptrdiff_t>(c.base + c.length), 0u);
    } else {
        std::erase(memory_order_, id - 1);
    }
}

std::string_view Bus::claim_name(ClaimId claim) const {
    const auto id = static_cast<std::uint32_t>(claim);
    if (id == 0 || id > claims_.size() || !claims_[id - 1].live) return {};
    return claims_[id - 1].name;
}

const Bus::Claim* Bus::memory_claim_at(std::uint64_t address) const {
    // Claims do not overlap, so the candidate is the last one starting at or below the address.
    auto it = std::upper_bound(memory_order_.begin(), memory_order_.end(), address,
                               [this](std::uint64_t a, std::uint32_t i) { return a < claims_[i].base; });
    if (it == memory_order_.begin()) return nullptr;
    const Claim& c = claims_[*(it - 1)];
    return address - c.base < c.length ? &c : nullptr;
}

std::uint8_t Bus::inb(std::uint16_t port) {
    const std::uint32_t owner = io_owner_[port];
    const Claim* claim = owner ? &claims_[owner - 1] : nullptr;
    std::uint8_t value = 0xff;
    if (claim) {
        const auto offset = static_cast<std::uint32_t>(port - claim->base);
        std::string_view reg;
        if (tracing_) reg = claim->io->register_name(offset, false);
        value = claim->io->io_read(offset);
        if (tracing_) record(AccessKind::io_read, port, 1, value, claim, reg);
    } else if (tracing_) {
        record(AccessKind::io_read, port, 1, value, nullptr, {});
    }
    accessed();
    return value;
}

void Bus::outb(std::uint16_t port, std::uint8_t value) {
    const std::uint32_t owner = io_owner_[port];
    const Claim* claim = owner ? &claims_[owner - 1] : nullptr;
    if (claim) {
        const auto offset = static_cast<std::uint32_t>(port - claim->base);
        std::string_view reg;
        if (tracing_) reg = claim->io->register_name(offset, true);
        claim->io->io_write(offset, value);
        if (tracing_) record(AccessKind::io_write, port, 1, value, claim, reg);
    } else if (tracing_) {
        record(AccessKind::io_write, port, 1, value, nullptr, {});
    }
    accessed();
}

std::uint32_t Bus::read_memory(std::uint64_t address, unsigned width) {
    check_width(width);
    const Claim* claim = memory_claim_at(address);
    std::uint32_t value = all_ones(width);
    if (claim) {
        const std::uint64_t offset = address - claim->base;
        std::string_view reg;
        if (tracing_) reg = claim->memory->register_name_at_width(offset, width, false);
        value = claim->memory->mem_read(offset, width) & all_ones(width);
        if (tracing_) record(AccessKind::mem_read, address, width, value, claim, reg);
    } else if (tracing_) {
        record(AccessKind::mem_read, address, width, value, nullptr, {});
    }
    accessed();
    return value;
}

void Bus::write_memory(std::uint64_t address, unsigned width, std::uint32_t value) {
    check_width(width);
    value &= all_ones(width);
    const Claim* claim = memory_claim_at(address);
    if (claim) {
        const std::uint64_t offset = address - claim->base;
        std::string_view reg;
        if (tracing_) reg = claim->memory->register_name_at_width(offset, width, true);
        claim->memory->mem_write(offset, width, value);
        if (tracing_) record(AccessKind::mem_write, address, width, value, claim, reg);
    } else if (tracing_) {
        record(AccessKind::mem_write, address, width, value, nullptr, {});
    }
    accessed();
}

void Bus::record(AccessKind kind, std::uint64_t address, unsigned width, std::uint32_t value,
                 const Claim* claim, std::string_view register_name) {
    if (trace_limit_ == 0) return;
    // The live window is [trace_start_, end); when the vector reaches twice the limit the newest
    // `limit` entries move to the front, so trace() stays one contiguous span.
    if (trace_.size() >= 2 * trace_limit_) {
        std::move(trace_.end() - static_cast<std::ptrdiff_t>(trace_limit_) + 1, trace_.end(), trace_.begin());
        trace_.resize(trace_limit_ - 1);
        trace_start_ = 0;
    }
    trace_.push_back(BusAccess{kind, address, width, value, events_.now(),
                               claim ? claim->name : std::string{}, register_name});
    if (trace_.size() - trace_start_ > trace_limit_) ++trace_start_;
}

void Bus::accessed() {
    if (observer_) observer_();
}

void Bus::set_tracing(bool on, std::size_t limit) {
    tracing_ = on;
    if (limit != trace_limit_) {
        trace_limit_ = limit;
        if (trace_.size() - trace_start_ > limit) trace_start_ = trace_.size() - limit;
    }
}

bool Bus::tracing() const { return tracing_; }

std::span<const BusAccess> Bus::trace() const {
    return std::span<const BusAccess>(trace_).subspan(trace_start_);
}

void Bus::clear_trace() {
    trace_.clear();
    trace_start_ = 0;
}

void Bus::set_access_observer(std::function<void()> observer) { observer_ = std::move(observer); }

}  // namespace sim::hw
