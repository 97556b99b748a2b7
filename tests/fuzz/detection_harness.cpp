#include "tests/fuzz/detection_harness.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <fmt/format.h>

#include "drivers/serial/kernel/io.h"
#include "sim/hw/bus.h"

namespace detection_fuzz {
namespace {

using sim::hw::AccessKind;
using sim::hw::BusAccess;

constexpr std::string_view module_name = "8250";
constexpr std::uint32_t template_clock_hz = 1843200;
constexpr std::uint32_t fast_clock = 14745600;
constexpr std::uint64_t wide_window_length = 0x100000;
// A whole detection is a few hundred accesses, two FIFO measurements included; far more means
// the driver is looping on what the chip answers.
constexpr std::size_t access_bound = 4096;
constexpr std::uint32_t stray_request_bits = 0x7ffffffc;
constexpr std::uint32_t direct_line_index = 7;

// Types the detection can arrive at; 5 ("Cirrus") and 9 ("Startech") are only ever set by hand.
constexpr std::array<bool, type_count> detectable = {true, true, true, true, true, false, true, true,
                                                     true, false, true, true, true, true, true, true};

bool is_memory_kind(std::uint8_t kind) {
    return kind == access_mem8 || kind == access_mem32 || kind == access_mem8_quirk;
}
bool registers_on_io_ports(std::uint8_t kind) { return kind == access_port_io || kind == access_wide_window; }

// Everything about the port that follows from the case: its addresses, the regions its kind
// claims, and what the driver may and may not do with it.
struct PortPlan {
    std::uint32_t io_base = 0;
    std::uint64_t record_phys = 0;  // reg_window_phys as the driver gets it
    bool premapped = false;         // the harness maps the window (memory kinds without map_on_request)
    std::uint64_t map_length = 0;
    std::uint64_t span = 0;         // eight registers, spread by the shift

    std::optional<HeldRegion> std_region;  // what the standard claim takes
    std::optional<HeldRegion> rsa_region;  // what the RSA claim takes
    bool std_busy = false;                 // the standard claim will fail
    bool rsa_busy = false;
    bool probed = false;                   // type detection runs
    bool irq_probe_requested = false;
    bool rsa_listed = false;               // io_base is among the module's RSA probe addresses
};

PortPlan plan_port(const DetectionCase& c) {
    PortPlan plan;
    const std::uint8_t kind = c.access_kind;
    plan.span = std::uint64_t{8} << c.reg_shift;
    const bool has_base = c.placement != Placement::no_address;
    if (!is_memory_kind(kind) && has_base) {
        plan.io_base = c.placement == Placement::rsa_probe_base ? rsa_probe_base : plain_base;
    }
    if (kind != access_port_io && kind != access_hub6 && has_base) plan.record_phys = window_base;
    plan.premapped = is_memory_kind(kind) && !c.map_on_request;
    // A 32-bit load at the last register reaches three bytes beyond its start.
    plan.map_length = std::max(plan.span, (std::uint64_t{7} << c.reg_shift) + 4);

    switch (kind) {
    case access_port_io:
    case access_hub6:
        plan.std_region = HeldRegion{false, plan.io_base, plan.io_base + plan.span - 1, "serial"};
        if (plan.io_base >= plan.span) {
            plan.rsa_region = HeldRegion{false, plan.io_base - plan.span, plan.io_base - 1, "serial-rsa"};
        }
        break;
    case access_mem8:
        if (plan.record_phys != 0)
            plan.std_region = HeldRegion{true, plan.record_phys, plan.record_phys + plan.span - 1, "serial"};
        break;
    case access_wide_window:
        if (plan.record_phys != 0)
            plan.std_region = HeldRegion{true, plan.record_phys, plan.record_phys + wide_window_length - 1, "serial"};
        break;
    default:
        break;
    }
    plan.std_busy = c.std_region_busy && plan.std_region.has_value();
    plan.rsa_busy = c.rsa_region_busy && plan.rsa_region.has_value();
    plan.rsa_listed = plan.io_base == rsa_probe_base;
    plan.irq_probe_requested = c.irq_probe;

    const bool window_mapped = plan.premapped || (c.map_on_request && plan.record_phys != 0 &&
                                                  (kind == access_mem8 || kind == access_wide_window));
    const bool has_address = plan.io_base != 0 || plan.record_phys != 0 || plan.premapped;
    const bool asked = c.entry == Entry::register_port || c.type_detect;
    plan.probed = asked && has_address && !plan.std_busy && (!is_memory_kind(kind) || window_mapped);
    return plan;
}

// Regions another driver holds for the length of one run.
class Blockers {
public:
    Blockers(sim::kernel::Machine& machine, const PortPlan& plan) : machine_(machine) {
        if (plan.std_busy) hold(plan.std_region->memory, plan.std_region->start);
        if (plan.rsa_busy) hold(false, plan.rsa_region->end);
    }
    ~Blockers() {
        for (const auto& [memory, start] : held_) tree(memory).release_region(nullptr, start, 1);
    }
    Blockers(const Blockers&) = delete;
    Blockers& operator=(const Blockers&) = delete;

private:
    sim::kernel::ResourceTree& tree(bool memory) { return memory ? machine_.iomem() : machine_.ioports(); }
    void hold(bool memory, std::uint64_t start) {
        if (tree(memory).request_region(nullptr, start, 1, "other-driver") == nullptr) {
            std::fprintf(stderr, "detection harness: cannot hold %#llx\n", static_cast<unsigned long long>(start));
            std::abort();
        }
        held_.emplace_back(memory, start);
    }

    sim::kernel::Machine& machine_;
    std::vector<std::pair<bool, std::uint64_t>> held_;
};

// The register window a board driver would have mapped before registering the port.
class PremappedWindow {
public:
    PremappedWindow(sim::kernel::Machine& machine, const PortPlan& plan) : machine_(machine) {
        if (plan.premapped) address_ = machine.mappings().map(window_base, plan.map_length);
    }
    ~PremappedWindow() {
        if (address_ != nullptr) machine_.mappings().unmap(address_);
    }
    PremappedWindow(const PremappedWindow&) = delete;
    PremappedWindow& operator=(const PremappedWindow&) = delete;
    unsigned char* address() const { return static_cast<unsigned char*>(address_); }

private:
    sim::kernel::Machine& machine_;
    void* address_ = nullptr;
};

const char* kind_name(AccessKind kind) {
    switch (kind) {
    case AccessKind::io_read: return "in ";
    case AccessKind::io_write: return "out";
    case AccessKind::mem_read: return "ld ";
    case AccessKind::mem_write: return "st ";
    }
    return "?";
}

[[noreturn]] void violation(const DetectionCase& c, std::span<const BusAccess> trace, std::string_view what) {
    std::string text = fmt::format("detection rule broken: {}\n  case: {}\n  {} bus accesses", what, describe(c),
                                   trace.size());
    constexpr std::size_t shown = 48;
    const std::size_t first = trace.size() > shown ? trace.size() - shown : 0;
    if (first > 0) text += fmt::format(", the last {}", shown);
    text += ":\n";
    for (std::size_t i = first; i < trace.size(); ++i) {
        const BusAccess& a = trace[i];
        text += fmt::format("    {} {:#x}/{} {:#x}\n", kind_name(a.kind), a.address, a.width, a.value);
    }
    std::fputs(text.c_str(), stderr);
    std::abort();
}

// Whether an access is one the detection may make: the port's own registers, the RSA board's
// below them when the base is an RSA probe address, and the four-port board's interrupt
// register (with its I/O pause) when the interrupt line is probed on such a board.
bool access_allowed(const DetectionCase& c, const PortPlan& plan, const BusAccess& access) {
    const bool io = access.kind == AccessKind::io_read || access.kind == AccessKind::io_write;
    const std::uint8_t kind = c.access_kind;
    auto is_register = [&](std::uint64_t base, std::uint64_t address) {
        for (std::uint64_t reg = 0; reg < 8; ++reg) {
            if (address == base + (reg << c.reg_shift)) return true;
        }
        return false;
    };
    if (io) {
        if (access.width != 1) return false;
        if (c.four_port && plan.irq_probe_requested) {
            if (access.address == four_port_irq_register(plan.io_base)) return true;
            if (access.address == io_pause_port && access.kind == AccessKind::io_write) return true;
        }
        if (kind == access_hub6) return access.address == plan.io_base || access.address == plan.io_base + 1;
        if (!registers_on_io_ports(kind)) return false;
        if (is_register(plan.io_base, access.address)) return true;
        // Memory-mapped wide windows claim no RSA ports but reach their registers as ports.
        const bool rsa_probe = plan.rsa_listed && (kind == access_wide_window || !plan.rsa_busy);
        if (rsa_probe) {
            const std::uint64_t mode = plan.io_base - (std::uint64_t{8} << c.reg_shift);
            const std::uint64_t fifo_reset = plan.io_base - (std::uint64_t{6} << c.reg_shift);
            return access.address == mode || access.address == fifo_reset;
        }
        return false;
    }
    if (!is_memory_kind(kind) || !is_register(window_base, access.address)) return false;
    switch (kind) {
    case access_mem8: return access.width == 1;
    case access_mem32: return access.width == 4;
    default:  // the quirky board's IIR arrives in a 32-bit load of the first word
        return access.width == 1 || (access.width == 4 && access.address == window_base);
    }
}

}  // namespace

DetectionHarness::DetectionHarness(sim::kernel::Machine& machine, std::string_view module_path)
    : machine_(machine) {
    const sim::kernel::LoadResult loaded = machine.modules().load(module_path, module_parameters);
    if (!loaded) {
        std::fprintf(stderr, "detection harness: loading %.*s failed: %s\n", static_cast<int>(module_path.size()),
                     module_path.data(), loaded.message.c_str());
        std::abort();
    }
    auto module_symbol = [&](std::string_view name) {
        void* address = machine.modules().symbol(module_name, name);
        if (address == nullptr) {
            std::fprintf(stderr, "detection harness: the module has no %.*s\n", static_cast<int>(name.size()),
                         name.data());
            std::abort();
        }
        return address;
    };
    pops_ = static_cast<const uart_ops*>(module_symbol("serial8250_pops"));
    slots_ = static_cast<serial8250_uart*>(module_symbol("serial8250_ports"));
    type_table_ = static_cast<const uart_type_info*>(module_symbol("uart_config"));
    register_port_ = machine.symbols().function<int(uart_port*)>("serial8250_register_port");
    unregister_port_ = machine.symbols().function<void(int)>("serial8250_unregister_port");
    if (register_port_ == nullptr || unregister_port_ == nullptr) {
        std::fputs("detection harness: the registration functions are not exported\n", stderr);
        std::abort();
    }
    baseline_ = held_regions();
    baseline_mappings_ = machine.mappings().count();
    machine.bus().set_tracing(true, 1u << 16);
}

std::vector<HeldRegion> DetectionHarness::held_regions() {
    std::vector<HeldRegion> regions;
    for (const auto& info : machine_.ioports().regions()) regions.push_back({false, info.start, info.end, info.name});
    for (const auto& info : machine_.iomem().regions()) regions.push_back({true, info.start, info.end, info.name});
    std::sort(regions.begin(), regions.end());
    return regions;
}

DetectionOutcome DetectionHarness::run(const DetectionCase& c) {
    sim::hw::Bus& bus = machine_.bus();
    bus.clear_trace();
    const PortPlan plan = plan_port(c);
    DetectionOutcome outcome;
    {
        Blockers blockers(machine_, plan);
        PremappedWindow window(machine_, plan);
        std::vector<HeldRegion> expected = held_regions();  // the baseline and the blockers

        uart_port templ{};
        templ.io_base = plan.io_base;
        templ.reg_window = window.address();
        templ.reg_window_phys = plan.record_phys;
        templ.irq_line = template_irq;
        templ.uart_clock_hz = template_clock_hz;
        templ.reg_shift = c.reg_shift;
        templ.access_kind = c.access_kind;
        templ.hub6_index = 1;
        templ.port_flags = (c.no_presence_test ? no_presence_test : 0) | (c.skip_test ? skip_test : 0) |
                           (c.four_port ? four_port : 0) | (c.map_on_request ? map_on_request : 0);

        serial8250_uart* up = nullptr;
        int line = -1;
        if (c.entry == Entry::register_port) {
            if (c.irq_probe) templ.port_flags |= irq_autoprobe;
            line = register_port_(&templ);
            if (line < 0 || static_cast<unsigned>(line) >= max_uart_ports)
                violation(c, bus.trace(), fmt::format("serial8250_register_port returned {}", line));
            up = &slots_[line];
        } else {
            std::memset(&record_, 0, sizeof record_);
            spin_lock_init(&record_.port.port_lock);
            record_.port.io_base = templ.io_base;
            record_.port.reg_window = templ.reg_window;
            record_.port.reg_window_phys = templ.reg_window_phys;
            record_.port.irq_line = templ.irq_line;
            record_.port.uart_clock_hz = templ.uart_clock_hz;
            record_.port.reg_shift = templ.reg_shift;
            record_.port.access_kind = templ.access_kind;
            record_.port.hub6_index = templ.hub6_index;
            record_.port.port_flags = templ.port_flags;
            record_.port.port_ops = pops_;
            record_.port.line_index = direct_line_index;
            const serial8250_uart before = record_;
            int request = c.type_detect ? want_type_detect : 0;
            if (c.irq_probe) request |= want_irq_probe;
            if (c.stray_request_bits) request |= static_cast<int>(stray_request_bits);
            pops_->config_port(&record_.port, request);
            up = &record_;
            if (!plan.probed && std::memcmp(&before, &record_, sizeof record_) != 0)
                violation(c, bus.trace(), "config_port changed the record of a port it did not probe");
        }

        const uart_port& port = up->port;
        const std::span<const BusAccess> trace = bus.trace();
        outcome = {port.uart_type, port.irq_line};
        if (port.uart_type >= type_count || !detectable[port.uart_type])
            violation(c, trace, fmt::format("type {} is not one detection can give", port.uart_type));
        if (!plan.probed && (port.uart_type != type_unknown || !trace.empty()))
            violation(c, trace, fmt::format("a port that is not probed got type {} after {} accesses",
                                            port.uart_type, trace.size()));
        if (trace.size() > access_bound)
            violation(c, trace, fmt::format("{} bus accesses for one detection", trace.size()));
        for (const BusAccess& access : trace) {
            if (!access_allowed(c, plan, access))
                violation(c, trace, fmt::format("access at {:#x} (width {}) lies outside the port", access.address,
                                                access.width));
        }

        // The regions: none for a port without a UART, both for an RSA board, else the standard.
        if (port.uart_type == type_rsa) {
            if (!plan.rsa_listed || !plan.rsa_region || plan.rsa_busy || !plan.std_region)
                violation(c, trace, "type 13 for a port that cannot hold its RSA region");
            expected.push_back(*plan.std_region);
            expected.push_back(*plan.rsa_region);
        } else if (port.uart_type != type_unknown && plan.std_region) {
            expected.push_back(*plan.std_region);
        }
        std::sort(expected.begin(), expected.end());
        const std::vector<HeldRegion> held = held_regions();
        if (held != expected) {
            std::string listing;
            for (const HeldRegion& r : held)
                listing += fmt::format(" {}:{:#x}-{:#x}:{}", r.memory ? "mem" : "io", r.start, r.end, r.name);
            violation(c, trace, fmt::format("type {} leaves the regions{}", port.uart_type, listing));
        }

        if (port.uart_type != type_unknown) {
            const uart_type_info& info = type_table_[port.uart_type];
            if (port.fifo_depth != info.fifo_size || up->tx_load_size != info.tx_load || up->cap_flags != info.type_caps)
                violation(c, trace, fmt::format("type {} with FIFO {}, load {}, caps {:#x}", port.uart_type,
                                                port.fifo_depth, up->tx_load_size, up->cap_flags));
        }
        const bool fast = port.uart_type == type_rsa || port.uart_type == type_ns16550a;
        if (port.uart_clock_hz != (fast ? fast_clock : template_clock_hz))
            violation(c, trace, fmt::format("type {} with clock {}", port.uart_type, port.uart_clock_hz));
        // Nothing here raises an interrupt, so a probe that ran finds no line.
        const bool line_probed = port.uart_type != type_unknown && plan.irq_probe_requested;
        if (port.irq_line != (line_probed ? 0u : template_irq))
            violation(c, trace, fmt::format("irq_line {} after {}", port.irq_line,
                                            line_probed ? "a probe that saw no interrupt" : "no probe"));

        if (c.entry == Entry::register_port) {
            unregister_port_(line);
        } else if (port.uart_type != type_unknown) {
            pops_->release_port(&record_.port);
        }
    }
    if (held_regions() != baseline_) violation(c, bus.trace(), "regions are still held after the port went away");
    if (machine_.mappings().count() != baseline_mappings_)
        violation(c, bus.trace(), "a register window is still mapped after the port went away");
    return outcome;
}

std::vector<std::uint8_t> DetectionHarness::last_answers() const {
    std::vector<std::uint8_t> answers;
    for (const BusAccess& access : machine_.bus().trace()) {
        if (access.kind != AccessKind::io_read && access.kind != AccessKind::mem_read) continue;
        for (unsigned byte = 0; byte < access.width; ++byte)
            answers.push_back(static_cast<std::uint8_t>(access.value >> (8 * byte)));
    }
    return answers;
}

}  // namespace detection_fuzz
