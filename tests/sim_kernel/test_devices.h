// Small devices for the substitute's tests: a register block whose control register drives an
// interrupt pin, and a memory block.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/hw/bus.h"
#include "sim/hw/interrupt_controller.h"

namespace sim::kernel::testing {

// Register 0 ("CTRL"): writing a non-zero value asserts the interrupt pin, 0 releases it.
// Register 1 ("DATA"): plain storage. Reads and writes are counted.
class PinDevice : public hw::IoDevice {
public:
    PinDevice(hw::InterruptController& controller, unsigned line);
    std::uint8_t io_read(std::uint32_t offset) override;
    void io_write(std::uint32_t offset, std::uint8_t value) override;
    std::string_view register_name(std::uint32_t offset, bool is_write) const override;

    void set_pin(bool asserted) { pin_.set(asserted); }
    bool pin() const { return pin_.asserted(); }
    unsigned reads = 0;
    unsigned writes = 0;

private:
    hw::InterruptPin pin_;
    std::array<std::uint8_t, 2> registers_{};
};

class MemoryBlock : public hw::MemoryDevice {
public:
    explicit MemoryBlock(std::size_t size) : bytes_(size, 0) {}
    std::uint32_t mem_read(std::uint64_t offset, unsigned width) override;
    void mem_write(std::uint64_t offset, unsigned width, std::uint32_t value) override;
    std::string_view register_name(std::uint64_t, bool) const override { return "MEM"; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace sim::kernel::testing
