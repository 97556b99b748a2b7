// The 8250 module loaded once into a simulated machine, and one detection run at a time: add a
// port as a DetectionCase says, check what type detection left behind (the type, the regions
// held in the machine's resource trees, the record's table fields, every bus access made), then
// take the port away and check that nothing stays held. A broken rule prints the case with the
// bus accesses and aborts, which is what a fuzzer reports as a crash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/8250/8250.h"
#include "sim/kernel/machine.h"
#include "tests/fuzz/detection_case.h"

namespace detection_fuzz {

// Where the harness puts ports. The four-port board's register ((base AND 0xfe0) OR 0x1f)
// stays within the port's own block for both bases.
inline constexpr std::uint32_t rsa_probe_base = 0x340;
inline constexpr std::uint32_t plain_base = 0x2a0;
inline constexpr std::uint64_t window_base = 0xfe000000;
inline constexpr std::uint64_t window_space = 0x100000;  // the widest window a port claims
inline constexpr std::string_view module_parameters = "probe_rsa=0x340";
inline constexpr std::uint32_t template_irq = 5;

struct DetectionOutcome {
    std::uint32_t uart_type = 0;
    std::uint32_t irq_line = 0;
};

// A region as a resource tree lists it.
struct HeldRegion {
    bool memory;
    std::uint64_t start;
    std::uint64_t end;  // inclusive
    std::string name;
    friend auto operator<=>(const HeldRegion&, const HeldRegion&) = default;
};

class DetectionHarness {
public:
    // Loads the module from `module_path`; the machine must outlive the harness.
    DetectionHarness(sim::kernel::Machine& machine, std::string_view module_path);
    DetectionHarness(const DetectionHarness&) = delete;
    DetectionHarness& operator=(const DetectionHarness&) = delete;

    DetectionOutcome run(const DetectionCase& detection_case);

    // What the bus answered to the reads of the last run, one byte per byte loaded (low byte
    // first): replayed by the answer device, it takes the driver down the same path.
    std::vector<std::uint8_t> last_answers() const;

private:
    std::vector<HeldRegion> held_regions();

    sim::kernel::Machine& machine_;
    const uart_ops* pops_ = nullptr;
    serial8250_uart* slots_ = nullptr;
    const uart_type_info* type_table_ = nullptr;
    int (*register_port_)(uart_port*) = nullptr;
    void (*unregister_port_)(int) = nullptr;
    std::vector<HeldRegion> baseline_;
    std::size_t baseline_mappings_ = 0;
    serial8250_uart record_{};  // the port the operation is called on directly
};

}  // namespace detection_fuzz
