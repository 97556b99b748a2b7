// The machine's buses: a 64 KiB I/O port space and a 64-bit physical address map.
// Devices claim ranges; an unclaimed I/O port reads 0xff (a floating ISA bus) and drops writes;
// unclaimed memory reads all ones and drops writes. Every access can be recorded in a trace.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/hw/event_queue.h"

namespace sim::hw {

enum class AccessKind : std::uint8_t { io_read, io_write, mem_read, mem_write };

// A device on the I/O port space. Offsets are relative to the start of its claim.
class IoDevice {
public:
    virtual ~IoDevice() = default;
    virtual std::uint8_t io_read(std::uint32_t offset) = 0;
    virtual void io_write(std::uint32_t offset, std::uint8_t value) = 0;
    // The register an access at `offset` reaches right now ("LCR", "DLL", "EFR", ...), for the
    // trace. Asked just before the access is carried out.
    virtual std::string_view register_name(std::uint32_t offset, bool is_write) const = 0;
};

// A device on the physical address map. `width` is 1 or 4 bytes.
class MemoryDevice {
public:
    virtual ~MemoryDevice() = default;
    virtual std::uint32_t mem_read(std::uint64_t offset, unsigned width) = 0;
    virtual void mem_write(std::uint64_t offset, unsigned width, std::uint32_t value) = 0;
    virtual std::string_view register_name(std::uint64_t offset, bool is_write) const = 0;
    // For devices where the access width selects the register (the trace asks this one).
    virtual std::string_view register_name_at_width(std::uint64_t offset, unsigned width, bool is_write) const {
        (void)width;
        return register_name(offset, is_write);
    }
};

struct BusAccess {
    AccessKind kind;
    std::uint64_t address;
    unsigned width;        // bytes: 1 or 4
    std::uint32_t value;   // read or written
    TimePoint time;
    std::string device;    // the claim's name, empty when unclaimed
    std::string_view register_name;  // empty when unclaimed
};

enum class ClaimId : std::uint32_t { none = 0 };

class Bus {
public:
    explicit Bus(EventQueue& events);

    // Claims fail (nullopt) when any part of the range is already claimed.
    std::optional<ClaimId> claim_io(std::uint32_t base, std::uint32_t length, IoDevice& device,
                                    std::string name);
    std::optional<ClaimId> claim_memory(std::uint64_t base, std::uint64_t length,
                                        MemoryDevice& device, std::string name);
    void release(ClaimId claim);

    std::uint8_t inb(std::uint16_t port);
    void outb(std::uint16_t port, std::uint8_t value);
    std::uint32_t read_memory(std::uint64_t address, unsigned width);
    void write_memory(std::uint64_t address, unsigned width, std::uint32_t value);

    // Tracing: off by default. The trace keeps at most `limit` accesses (oldest dropped).
    void set_tracing(bool on, std::size_t limit = 1u << 20);
    bool tracing() const;
    std::span<const BusAccess> trace() const;
    void clear_trace();

    // Called after every access, once the device has carried it out: the kernel takes pending
    // interrupts here.
    void set_access_observer(std::function<void()> observer);

    // The name a claim was made under ("" for none): for listings such as /proc/ioports.
    std::string_view claim_name(ClaimId claim) const;

private:
    struct Claim {
        AccessKind space;  // io_read for the port space, mem_read for memory
        std::uint64_t base = 0;
        std::uint64_t length = 0;
        IoDevice* io = nullptr;
        MemoryDevice* memory = nullptr;
        std::string name;
        bool live = false;
    };

    const Claim* memory_claim_at(std::uint64_t address) const;
    void record(AccessKind kind, std::uint64_t address, unsigned width, std::uint32_t value,
                const Claim* claim, std::string_view register_name);
    void accessed();

    EventQueue& events_;
    std::vector<Claim> claims_;               // indexed by ClaimId - 1; released claims stay dead
    std::vector<std::uint32_t> io_owner_;     // per port: ClaimId, 0 when unclaimed
    std::vector<std::uint32_t> memory_order_; // live memory claims by base address
    bool tracing_ = false;
    std::size_t trace_limit_ = 0;
    std::size_t trace_start_ = 0;
    std::vector<BusAccess> trace_;
    std::function<void()> observer_;
};

}  // namespace sim::hw
